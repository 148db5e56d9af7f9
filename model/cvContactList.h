#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class TcvContact;

// The owning, ordered contact list of a group. A group of a hundred thousand contacts takes and
// loses contacts one at a time (a parser deleting or unsubscribing one per mail), and a single
// array would move the whole tail for each. The list is therefore kept in blocks of at most a few
// thousand pointers: a change moves the rest of one block and shifts the start of the blocks
// after it. Reading by position is constant time for neighbouring positions (a walk through the
// list) and a binary search over the blocks otherwise.
class TcvContactList {
public:
    TcvContactList() = default;
    TcvContactList(const TcvContactList&) = delete;
    TcvContactList& operator=(const TcvContactList&) = delete;
    ~TcvContactList();

    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    // position < size().
    TcvContact* operator[](size_t position) const {
        if (hint_ < blocks_.size()) {
            const Block& b = blocks_[hint_];
            if (position - b.start < b.items.size()) return b.items[position - b.start];
        }
        const Block& b = blocks_[blockOf(position)];
        return b.items[position - b.start];
    }
    TcvContact* back() const { return blocks_.back().items.back(); }

    // position <= size(). The list owns the contact from then on.
    void insert(size_t position, std::unique_ptr<TcvContact> contact);
    // position < size(). Takes the contact out; the caller owns it.
    std::unique_ptr<TcvContact> extract(size_t position);
    void clear();
    // Takes the new order of the list: every contact it holds now, in any order, and new ones
    // whose ownership passes to the list when the call returns (the caller releases them then).
    // Throws only before anything changed.
    void reorder(const std::vector<TcvContact*>& order);

    template <class F> void forEach(F&& f) const {
        for (const Block& b : blocks_)
            for (TcvContact* c : b.items) f(c);
    }
    // Counts every change of the list's order or membership.
    uint64_t changes() const { return changes_; }
    // The position of the contact, or -1; walks the list.
    long indexOf(const TcvContact* contact) const;

private:
    struct Block {
        size_t start;
        std::vector<TcvContact*> items;
    };
    // The block holding the position, or blocks_.size() when position == size().
    size_t blockOf(size_t position) const;
    void shiftStarts(size_t fromBlock, bool up);
    static std::vector<Block> blocksOf(const std::vector<TcvContact*>& order);

    std::vector<Block> blocks_;
    size_t size_ = 0;
    uint64_t changes_ = 0;
    // The block of the last position read, where the next read most often is.
    mutable size_t hint_ = 0;
};

#include "model/cvContactList.h"

#include "model/cvSetup.h"

#include <algorithm>

namespace {

// A block splits in two when it grows past this, and a block that shrinks below a quarter of it
// joins a neighbour when both fit in one.
constexpr size_t MaxBlock = 2048;

}  // namespace

TcvContactList::~TcvContactList() { clear(); }

size_t TcvContactList::blockOf(size_t position) const {
    if (position >= size_) return blocks_.size();
    const auto holds = [&](size_t b) {
        return b < blocks_.size() && position >= blocks_[b].start &&
               position < blocks_[b].start + blocks_[b].items.size();
    };
    if (holds(hint_)) return hint_;
    if (holds(hint_ + 1)) return ++hint_;
    const auto after = std::upper_bound(blocks_.begin(), blocks_.end(), position,
                                        [](size_t p, const Block& b) { return p < b.start; });
    hint_ = static_cast<size_t>(after - blocks_.begin()) - 1;
    return hint_;
}

void TcvContactList::shiftStarts(size_t fromBlock, bool up) {
    for (size_t b = fromBlock; b < blocks_.size(); ++b) {
        if (up) ++blocks_[b].start;
        else --blocks_[b].start;
    }
}

void TcvContactList::insert(size_t position, std::unique_ptr<TcvContact> contact) {
    if (blocks_.empty()) {
        Block first{0, {}};
        first.items.reserve(16);
        blocks_.push_back(std::move(first));
    }
    // The end of the list belongs to the last block.
    size_t b = position == size_ ? blocks_.size() - 1 : blockOf(position);
    Block* block = &blocks_[b];
    if (block->items.size() >= MaxBlock) {
        // Split first, so that nothing has changed if the new block cannot be made.
        const size_t half = block->items.size() / 2;
        Block upper{block->start + half, std::vector<TcvContact*>(block->items.begin() + static_cast<long>(half),
                                                                  block->items.end())};
        blocks_.insert(blocks_.begin() + static_cast<long>(b) + 1, std::move(upper));
        block = &blocks_[b];
        block->items.resize(half);
        if (position >= blocks_[b + 1].start) block = &blocks_[++b];
    }
    block->items.insert(block->items.begin() + static_cast<long>(position - block->start), contact.get());
    static_cast<void>(contact.release());
    ++size_;
    ++changes_;
    shiftStarts(b + 1, true);
    hint_ = b;
}

std::unique_ptr<TcvContact> TcvContactList::extract(size_t position) {
    const size_t b = blockOf(position);
    Block& block = blocks_[b];
    std::unique_ptr<TcvContact> taken(block.items[position - block.start]);
    block.items.erase(block.items.begin() + static_cast<long>(position - block.start));
    --size_;
    ++changes_;
    shiftStarts(b + 1, false);
    if (block.items.empty()) {
        blocks_.erase(blocks_.begin() + static_cast<long>(b));
    } else if (block.items.size() < MaxBlock / 4 && b + 1 < blocks_.size() &&
               block.items.size() + blocks_[b + 1].items.size() <= MaxBlock) {
        // Joining may fail for memory; the list is whole either way.
        try {
            Block& next = blocks_[b + 1];
            block.items.insert(block.items.end(), next.items.begin(), next.items.end());
            blocks_.erase(blocks_.begin() + static_cast<long>(b) + 1);
        } catch (const std::bad_alloc&) {
        }
    }
    hint_ = b < blocks_.size() ? b : 0;
    return taken;
}

void TcvContactList::clear() {
    for (Block& b : blocks_)
        for (TcvContact* c : b.items) delete c;
    blocks_.clear();
    size_ = 0;
    ++changes_;
    hint_ = 0;
}

std::vector<TcvContactList::Block> TcvContactList::blocksOf(const std::vector<TcvContact*>& order) {
    std::vector<Block> blocks;
    const size_t fill = MaxBlock / 2;
    blocks.reserve((order.size() + fill - 1) / fill);
    for (size_t start = 0; start < order.size(); start += fill) {
        const size_t end = std::min(order.size(), start + fill);
        blocks.push_back({start, std::vector<TcvContact*>(order.begin() + static_cast<long>(start),
                                                          order.begin() + static_cast<long>(end))});
    }
    return blocks;
}

void TcvContactList::reorder(const std::vector<TcvContact*>& order) {
    blocks_ = blocksOf(order);
    size_ = order.size();
    ++changes_;
    hint_ = 0;
}

long TcvContactList::indexOf(const TcvContact* contact) const {
    for (const Block& b : blocks_)
        for (size_t i = 0; i < b.items.size(); ++i)
            if (b.items[i] == contact) return static_cast<long>(b.start + i);
    return -1;
}

#pragma once
// Where the writer puts its text. A saved setup is millions of small pieces of markup; they are
// collected in one large buffer and handed on in big blocks, so that a piece costs a copy
// rather than a call through a stream.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

namespace xml::detail {

class Output {
public:
    using FlushFn = void (*)(void* target, const char* p, size_t n);
    using PositionFn = int64_t (*)(void* target);

    // Hands everything on to the target in blocks; startPosition is the target's position now.
    Output(void* target, FlushFn flush, int64_t startPosition);
    // Hands each piece on at once and asks the target for its position: for a target whose
    // position does not move by the bytes it is given (an encoding that converts them).
    Output(void* target, FlushFn flush, PositionFn position);
    // Keeps everything, for block() to give back.
    Output();
    ~Output();
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    void put(const char* p, size_t n) {
        if (n <= capacity_ - fill_) {
            if (n) std::memcpy(buffer_.memory + fill_, p, n);
            fill_ += n;
            return;
        }
        putSlow(p, n);
    }
    void put(std::string_view s) { put(s.data(), s.size()); }
    void put(char c) {
        if (fill_ < capacity_) {
            buffer_.memory[fill_++] = c;
            return;
        }
        putSlow(&c, 1);
    }
    // The text with the five escaped characters replaced by their entities, as EscapeText.
    void putEscaped(std::string_view s);

    int64_t position() const { return position_ ? position_(target_) : base_ + static_cast<int64_t>(fill_); }
    // Hands the collected bytes on; nothing for a capture.
    void flush();

    // A capture's bytes, in the blocks it collected them in.
    size_t size() const { return static_cast<size_t>(base_) + fill_; }
    size_t blockCount() const { return blocks_.size() + 1; }
    std::string_view block(size_t i) const {
        if (i < blocks_.size()) return {blocks_[i].first.memory, blocks_[i].second};
        return {buffer_.memory, fill_};
    }

private:
    struct Block {
        char* memory = nullptr;
        size_t bytes = 0;
        bool mapped = false;
    };
    void putSlow(const char* p, size_t n);
    // Makes buffer_ a fresh block; a capture's are large, to be filled at few page faults.
    void allocate();
    static void release(Block& block);

    void* target_ = nullptr;
    FlushFn flush_ = nullptr;
    PositionFn position_ = nullptr;
    Block buffer_;
    // A capture's full blocks: kept as they are rather than copied into ever larger ones.
    std::vector<std::pair<Block, size_t>> blocks_;
    size_t capacity_ = 0;
    size_t fill_ = 0;
    int64_t base_ = 0;
};

}  // namespace xml::detail

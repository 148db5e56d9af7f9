#include "xml/sdNodePool.h"

#include <algorithm>

#if defined(__linux__)
#include <sys/mman.h>
#endif
#if defined(_WIN32)
#include <malloc.h>
#endif

namespace xml::detail {

namespace {

void* alignedAlloc(size_t bytes) {
#if defined(_WIN32)
    return _aligned_malloc(bytes, NodePool::ChunkBytes);
#else
    return std::aligned_alloc(NodePool::ChunkBytes, bytes);
#endif
}

void alignedFree(void* memory) {
#if defined(_WIN32)
    _aligned_free(memory);
#else
    std::free(memory);
#endif
}

}  // namespace

#if defined(__linux__)
// A block of the largest size mapped on its own, aligned so that the kernel can back it with one
// huge page: a big tree then costs one page fault per block instead of hundreds.
void* mapLargeBlock() {
    const size_t span = LargestBlockBytes * 2;
    void* raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    const auto start = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t aligned = (start + LargestBlockBytes - 1) & ~(uintptr_t{LargestBlockBytes} - 1);
    if (aligned > start) munmap(raw, aligned - start);
    const uintptr_t tail = aligned + LargestBlockBytes;
    if (start + span > tail) munmap(reinterpret_cast<void*>(tail), start + span - tail);
    auto* block = reinterpret_cast<void*>(aligned);
#if defined(MADV_HUGEPAGE)
    madvise(block, LargestBlockBytes, MADV_HUGEPAGE);
#endif
    return block;
}
#else
void* mapLargeBlock() { return nullptr; }
#endif

void unmapLargeBlock(void* block) {
#if defined(__linux__)
    munmap(block, LargestBlockBytes);
#else
    (void)block;
#endif
}

NodePool::~NodePool() {
    for (const Block& block : blocks_) {
        CORVANE_POOL_UNPOISON(block.memory, block.bytes);
#if defined(__linux__)
        if (block.mapped) {
            munmap(block.memory, block.bytes);
            continue;
        }
#endif
        alignedFree(block.memory);
    }
}

void NodePool::nextChunk() {
    if (blockNext_ == blockEnd_) addBlock();
    new (blockNext_) Chunk{this};
    bump_ = blockNext_ + HeaderBytes;
    end_ = blockNext_ + ChunkBytes;
    blockNext_ = end_;
}

void NodePool::addBlock() {
    blocks_.reserve(blocks_.size() + 1);
    const size_t bytes = blocks_.empty() ? ChunkBytes : std::min(blocks_.back().bytes * 2, LargestBlockBytes);
    char* memory = nullptr;
    bool mapped = false;
#if defined(__linux__)
    if (bytes == LargestBlockBytes) {
        memory = static_cast<char*>(mapLargeBlock());
        mapped = memory != nullptr;
    }
#endif
    if (!memory) memory = static_cast<char*>(alignedAlloc(bytes));
    if (!memory) throw std::bad_alloc();
    blocks_.push_back({memory, bytes, mapped});
    blockNext_ = memory;
    blockEnd_ = memory + bytes;
}

}  // namespace xml::detail

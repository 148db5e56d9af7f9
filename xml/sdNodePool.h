#pragma once
// Memory for the nodes of one document. A parsed setup holds well over a million nodes, and one
// heap allocation each made the allocator the largest cost of reading and freeing a tree. Slots
// of one size are carved from aligned chunks, so a node finds its pool from its own address and
// needs no pointer to it. The pool lives while its document or any of its nodes does: a node
// moved into another document, or kept after its document is gone, still frees correctly.
#include "xml/sdXmlDocuments.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define CORVANE_POOL_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CORVANE_POOL_ASAN 1
#endif
#endif
#if defined(CORVANE_POOL_ASAN)
#include <sanitizer/asan_interface.h>
#define CORVANE_POOL_POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define CORVANE_POOL_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#else
#define CORVANE_POOL_POISON(p, n) ((void)(p), (void)(n))
#define CORVANE_POOL_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace xml::detail {

// Blocks of nodes double from one chunk up to this size, so a small document takes little memory
// and a large one few blocks.
inline constexpr size_t LargestBlockBytes = size_t{2} << 20;
// A block of LargestBlockBytes that the kernel can back with one huge page, so that filling it
// costs one page fault instead of hundreds; null where that is not to be had.
void* mapLargeBlock();
void unmapLargeBlock(void* block);

class NodePool {
public:
    // Slots are carved from chunks of this size and alignment, each headed by its pool.
    static constexpr size_t ChunkBytes = 32 * 1024;

    // Every slot holds slotBytes, aligned for pointers (a node needs no more).
    explicit NodePool(size_t slotBytes) : slotBytes_((slotBytes + alignof(void*) - 1) & ~(alignof(void*) - 1)) {}
    NodePool(const NodePool&) = delete;
    NodePool& operator=(const NodePool&) = delete;

    void* allocate() {
        if (FreeSlot* slot = free_) {
            CORVANE_POOL_UNPOISON(slot, slotBytes_);
            free_ = slot->next;
            ++live_;
            return slot;
        }
        if (static_cast<size_t>(end_ - bump_) < slotBytes_) nextChunk();
        void* slot = bump_;
        bump_ += slotBytes_;
        ++live_;
        return slot;
    }

    static NodePool& of(const void* slot) {
        return *reinterpret_cast<const Chunk*>(reinterpret_cast<uintptr_t>(slot) & ~(uintptr_t{ChunkBytes} - 1))->pool;
    }

    // Takes a slot back for reuse; the last slot of a pool whose owner is gone frees the pool.
    static void release(void* slot) {
        NodePool& pool = of(slot);
        auto* s = static_cast<FreeSlot*>(slot);
        s->next = pool.free_;
        pool.free_ = s;
        // Freed nodes stay unreadable to the address sanitizer, as heap memory would.
        CORVANE_POOL_POISON(s, pool.slotBytes_);
        if (--pool.live_ == 0 && !pool.owned_) delete &pool;
    }

    // The owner is gone; the pool follows as soon as no slot is in use.
    void disown() {
        owned_ = false;
        if (live_ == 0) delete this;
    }

private:
    struct Chunk {
        NodePool* pool;
    };
    struct FreeSlot {
        FreeSlot* next;
    };
    struct Block {
        char* memory;
        size_t bytes;
        bool mapped;
    };
    static constexpr size_t HeaderBytes = 16;

    ~NodePool();
    void nextChunk();
    void addBlock();

    size_t slotBytes_;
    FreeSlot* free_ = nullptr;
    char* bump_ = nullptr;
    char* end_ = nullptr;
    // The unused chunks of the newest block.
    char* blockNext_ = nullptr;
    char* blockEnd_ = nullptr;
    std::vector<Block> blocks_;
    size_t live_ = 0;
    bool owned_ = true;
};

}  // namespace xml::detail

namespace xml {

// Defined here so that the reader's allocation of each node compiles inline.
inline void* TXmlNode::operator new(std::size_t, detail::NodePool& pool) { return pool.allocate(); }

inline void TXmlNode::operator delete(void* memory, detail::NodePool&) { detail::NodePool::release(memory); }

inline std::unique_ptr<TXmlNode> TXmlNode::create(TsdXmlDocument* document, detail::NodePool& pool) {
    return std::unique_ptr<TXmlNode>(new (pool) TXmlNode(document, PooledTag{}));
}

}  // namespace xml

/* The script heap's allocator.
 *
 * Every block is counted against a limit (the heap's 32 MiB), so the engine
 * gets a refusal that it turns into a collection and then a catchable
 * "alloc failed". Freed blocks are kept in size classes and handed out again:
 * under wine, memory returned to the system heap is decommitted and faults
 * back in page by page when it is reused, which made growing a string about
 * six times slower than the same engine natively. A kept block is reused
 * warm.
 *
 * Classes: 16-byte steps up to 128 bytes, then eight steps per power of two,
 * so a block is at most 12.5% larger than asked (a string that grows a few
 * bytes at a time reuses one class for a long while). Small classes are kept
 * without bound (their total is bounded by the heap's own peak); large ones
 * up to `cacheLimit` bytes: past it, kept blocks of other classes go back to
 * the system (smallest first) to make room for the one just freed.
 *
 * Not thread-safe: the engine calls it only under the heap lock. */
#ifndef KX4_HEAP_ALLOCATOR_H
#define KX4_HEAP_ALLOCATOR_H

#include <stddef.h>

namespace kx4 {

class HeapAllocator {
  public:
    HeapAllocator(size_t limit, size_t cacheLimit);
    ~HeapAllocator();
    HeapAllocator(const HeapAllocator &) = delete;
    HeapAllocator &operator=(const HeapAllocator &) = delete;

    // Null when the block would take the heap past its limit, or when the
    // system has no memory. realloc keeps the block unchanged on failure.
    void *alloc(size_t size);
    void *realloc(void *block, size_t size);
    void free(void *block);

    // Bytes asked for by the blocks in use (what the limit counts).
    size_t bytesInUse() const { return inUse_; }
    // Bytes held in kept blocks, ready for reuse.
    size_t bytesKept() const { return keptSmall_ + keptLarge_; }
    // Returns every kept block to the system.
    void trim();

    // The class of a size (at most 2^32; the limit is far below), and the
    // size of a class. Exposed for tests.
    static unsigned classOf(size_t size);
    static size_t classSize(unsigned cls);
    static const unsigned kClasses = 8 + 8 * 25;

  private:
    struct FreeBlock {
        FreeBlock *next;
    };
    void *take(unsigned cls);
    void give(void *raw, unsigned cls);

    size_t limit_, cacheLimit_;
    size_t inUse_ = 0, keptSmall_ = 0, keptLarge_ = 0;
    FreeBlock *kept_[kClasses] = {};
};

}  // namespace kx4

#endif

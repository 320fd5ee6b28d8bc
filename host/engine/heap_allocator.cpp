#include "heap_allocator.h"

#include <stdlib.h>
#include <string.h>

namespace kx4 {

namespace {

// In front of every block: the size asked for. Its size keeps malloc's
// alignment for what follows.
const size_t kHeader = sizeof(void *) == 8 ? 16 : 8;
// Classes up to this size are kept without bound.
const size_t kSmallClassLimit = 1024;

size_t &sizeField(void *raw) { return *static_cast<size_t *>(raw); }
void *payloadOf(void *raw) { return static_cast<char *>(raw) + kHeader; }
void *rawOf(void *block) { return static_cast<char *>(block) - kHeader; }

unsigned highBit(size_t v) {  // v > 0
    unsigned bit = 0;
    while (v >>= 1) bit++;
    return bit;
}

}  // namespace

unsigned HeapAllocator::classOf(size_t size) {
    if (size <= 128) return size ? static_cast<unsigned>((size - 1) / 16) : 0;
    unsigned k = highBit(size - 1);  // 2^k < size <= 2^(k+1)
    size_t step = static_cast<size_t>(1) << (k - 3);
    unsigned sub = static_cast<unsigned>((size - 1 - (static_cast<size_t>(1) << k)) / step);
    return 8 + (k - 7) * 8 + sub;
}

size_t HeapAllocator::classSize(unsigned cls) {
    if (cls < 8) return (cls + 1) * 16;
    unsigned k = 7 + (cls - 8) / 8, sub = (cls - 8) % 8;
    size_t step = static_cast<size_t>(1) << (k - 3);
    return (static_cast<size_t>(1) << k) + (sub + 1) * step;
}

HeapAllocator::HeapAllocator(size_t limit, size_t cacheLimit) : limit_(limit), cacheLimit_(cacheLimit) {}

HeapAllocator::~HeapAllocator() { trim(); }

void *HeapAllocator::take(unsigned cls) {
    FreeBlock *kept = kept_[cls];
    if (kept) {
        kept_[cls] = kept->next;
        size_t size = classSize(cls);
        (size <= kSmallClassLimit ? keptSmall_ : keptLarge_) -= size;
        return kept;
    }
    return ::malloc(kHeader + classSize(cls));
}

void HeapAllocator::give(void *raw, unsigned cls) {
    size_t size = classSize(cls);
    bool small = size <= kSmallClassLimit;
    if (!small && keptLarge_ + size > cacheLimit_) {
        // The block just freed is the likeliest to be wanted again (a string
        // that grows frees its previous copy); make room by giving back the
        // kept blocks of other classes, smallest first.
        for (unsigned other = classOf(kSmallClassLimit + 1); other < kClasses && keptLarge_ + size > cacheLimit_;
             other++) {
            if (other == cls) continue;
            while (FreeBlock *block = kept_[other]) {
                kept_[other] = block->next;
                keptLarge_ -= classSize(other);
                ::free(block);
                if (keptLarge_ + size <= cacheLimit_) break;
            }
        }
        if (keptLarge_ + size > cacheLimit_) {
            ::free(raw);
            return;
        }
    }
    FreeBlock *block = static_cast<FreeBlock *>(raw);
    block->next = kept_[cls];
    kept_[cls] = block;
    (small ? keptSmall_ : keptLarge_) += size;
}

void *HeapAllocator::alloc(size_t size) {
    if (size > limit_ - inUse_) return nullptr;
    void *raw = take(classOf(size));
    if (!raw) return nullptr;
    sizeField(raw) = size;
    inUse_ += size;
    return payloadOf(raw);
}

void HeapAllocator::free(void *block) {
    if (!block) return;
    void *raw = rawOf(block);
    size_t size = sizeField(raw);
    inUse_ -= size;
    give(raw, classOf(size));
}

void *HeapAllocator::realloc(void *block, size_t size) {
    if (!block) return alloc(size);
    if (size == 0) {
        free(block);
        return nullptr;
    }
    void *raw = rawOf(block);
    size_t old = sizeField(raw);
    if (size > old && size - old > limit_ - inUse_) return nullptr;
    unsigned cls = classOf(size);
    if (cls == classOf(old)) {  // fits where it is
        sizeField(raw) = size;
        inUse_ = inUse_ - old + size;
        return block;
    }
    void *moved = take(cls);
    if (!moved) return nullptr;
    sizeField(moved) = size;
    memcpy(payloadOf(moved), block, old < size ? old : size);
    inUse_ = inUse_ - old + size;
    give(raw, classOf(old));
    return payloadOf(moved);
}

void HeapAllocator::trim() {
    for (unsigned cls = 0; cls < kClasses; cls++) {
        while (FreeBlock *block = kept_[cls]) {
            kept_[cls] = block->next;
            ::free(block);
        }
    }
    keptSmall_ = keptLarge_ = 0;
}

}  // namespace kx4

// The script heap's allocator: size classes, the limit, kept blocks.
#include <stdint.h>
#include <string.h>

#include <vector>

#include "check.h"
#include "heap_allocator.h"

using kx4::HeapAllocator;

// Every size lands in a class that holds it and wastes at most 1/8 of it
// (16 bytes for the smallest), and classes grow strictly.
static void testClasses() {
    for (size_t size = 1; size <= (1u << 22); size += size < 4096 ? 1 : 97) {
        unsigned cls = HeapAllocator::classOf(size);
        size_t have = HeapAllocator::classSize(cls);
        CHECK_MSG(cls < HeapAllocator::kClasses, "size %zu", size);
        CHECK_MSG(have >= size, "size %zu in class of %zu", size, have);
        CHECK_MSG(size <= 128 ? have - size < 16 : have - size <= size / 8, "size %zu in class of %zu", size, have);
        CHECK_MSG(cls == 0 || HeapAllocator::classSize(cls - 1) < size, "size %zu could use a smaller class", size);
    }
    CHECK(HeapAllocator::classOf(0xFFFFFFFFu) < HeapAllocator::kClasses);
    for (unsigned cls = 1; cls < HeapAllocator::kClasses; cls++)
        CHECK(HeapAllocator::classSize(cls) > HeapAllocator::classSize(cls - 1));
}

// The limit counts the sizes asked for; a refusal changes nothing, and a
// failed realloc keeps the old block and its bytes.
static void testLimit() {
    HeapAllocator heap(1000, 1 << 20);
    void *a = heap.alloc(600);
    CHECK(a && heap.bytesInUse() == 600);
    CHECK(heap.alloc(401) == nullptr);
    CHECK(heap.bytesInUse() == 600);
    void *b = heap.alloc(400);
    CHECK(b && heap.bytesInUse() == 1000);
    heap.free(b);
    memset(a, 0x5A, 600);
    CHECK(heap.realloc(a, 1001) == nullptr);
    CHECK(heap.bytesInUse() == 600 && static_cast<unsigned char *>(a)[599] == 0x5A);
    void *c = heap.realloc(a, 900);
    CHECK(c && heap.bytesInUse() == 900 && static_cast<unsigned char *>(c)[599] == 0x5A);
    c = heap.realloc(c, 10);
    CHECK(c && heap.bytesInUse() == 10 && static_cast<unsigned char *>(c)[9] == 0x5A);
    CHECK(heap.realloc(c, 0) == nullptr && heap.bytesInUse() == 0);
    heap.free(nullptr);
}

// A freed block comes back for the next request of its class; large kept
// blocks stay within the cache limit; trim gives everything back.
static void testKeeping() {
    HeapAllocator heap(1 << 26, 300000);
    void *a = heap.alloc(100000);
    heap.free(a);
    CHECK(heap.bytesKept() == HeapAllocator::classSize(HeapAllocator::classOf(100000)));
    CHECK(heap.alloc(100001) == a);  // same class: the same block, warm
    CHECK(heap.bytesKept() == 0);
    void *big[4];
    for (void *&p : big) p = heap.alloc(100000);
    heap.free(a);
    for (void *p : big) heap.free(p);
    CHECK_MSG(heap.bytesKept() <= 300000, "kept %zu", heap.bytesKept());
    // Past the cache limit the newest free is kept, older classes go.
    void *mid = heap.alloc(200000);
    void *first = heap.alloc(100000);
    heap.free(first);
    heap.free(mid);
    CHECK(heap.alloc(200000) == mid);
    heap.free(mid);
    std::vector<void *> small;
    for (int i = 0; i < 1000; i++) small.push_back(heap.alloc(24));
    for (void *p : small) heap.free(p);
    CHECK(heap.bytesKept() >= 1000 * 32);
    heap.trim();
    CHECK(heap.bytesKept() == 0 && heap.bytesInUse() == 0);
}

// A string growing a few bytes at a time, as the engine does it: contents
// survive every move, blocks are aligned for any type.
static void testGrowth() {
    HeapAllocator heap(1 << 25, 1 << 23);
    unsigned char *s = nullptr;
    size_t length = 0;
    for (int i = 0; i < 3000; i++) {
        unsigned char *t = static_cast<unsigned char *>(heap.alloc(length + 7));
        if (length) memcpy(t, s, length);
        for (int j = 0; j < 7; j++) t[length + j] = static_cast<unsigned char>(length + j);
        heap.free(s);
        s = t;
        length += 7;
        CHECK(reinterpret_cast<uintptr_t>(s) % (sizeof(void *) == 8 ? 16 : 8) == 0);
    }
    bool intact = true;
    for (size_t i = 0; i < length; i++) intact = intact && s[i] == static_cast<unsigned char>(i);
    CHECK(intact);
    heap.free(s);
    CHECK(heap.bytesInUse() == 0);
}

int main() {
    testClasses();
    testLimit();
    testKeeping();
    testGrowth();
    return checkResult("heap_allocator_test");
}

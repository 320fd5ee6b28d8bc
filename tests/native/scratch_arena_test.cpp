// Scratch memory is released in stack order and never hands out overlapping
// or misaligned blocks.
#include <stdint.h>
#include <string.h>

#include <vector>

#include "check.h"
#include "scratch_arena.h"

using namespace kx4;

int main() {
    ScratchArena arena;
    ScratchArena::Mark outer = arena.mark();
    std::vector<std::pair<uint8_t *, size_t>> blocks;
    const size_t sizes[] = {1, 8, 13, 16000, 17000, 3, 1 << 20, 5};
    for (size_t i = 0; i < sizeof sizes / sizeof sizes[0]; i++) {
        uint8_t *p = static_cast<uint8_t *>(arena.alloc(sizes[i]));
        CHECK(p && reinterpret_cast<uintptr_t>(p) % 8 == 0);
        memset(p, static_cast<int>(i + 1), sizes[i]);
        blocks.push_back({p, sizes[i]});
    }
    // Nothing was overwritten by a later allocation.
    for (size_t i = 0; i < blocks.size(); i++)
        for (size_t k = 0; k < blocks[i].second; k++)
            if (blocks[i].first[k] != i + 1) {
                CHECK_MSG(false, "block %zu byte %zu overwritten", i, k);
                break;
            }
    // An inner scope's memory is reused after release; the outer block stays.
    ScratchArena::Mark inner = arena.mark();
    void *a = arena.alloc(64);
    arena.release(inner);
    void *b = arena.alloc(64);
    CHECK(a == b);
    CHECK(blocks.back().first[0] == blocks.size());
    arena.release(outer);
    void *first = arena.alloc(1);
    CHECK(first != nullptr);
    return checkResult("scratch_arena_test");
}

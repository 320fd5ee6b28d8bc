/* Per-context scratch memory for what a slot hands out besides engine values
 * (boxed doubles, narrowed texts, argument vectors). It is released in stack
 * order: everything allocated inside a native call or request scope goes
 * when that scope ends, which is exactly how long such values live. */
#ifndef KX4_SCRATCH_ARENA_H
#define KX4_SCRATCH_ARENA_H

#include <stddef.h>
#include <stdlib.h>
#include <vector>

namespace kx4 {

class ScratchArena {
public:
    struct Mark {
        size_t block;
        size_t used;
    };

    ScratchArena() = default;
    ScratchArena(const ScratchArena &) = delete;
    ScratchArena &operator=(const ScratchArena &) = delete;
    ~ScratchArena() {
        for (Block &b : blocks_) free(b.data);
    }

    Mark mark() const { return {current_, used_}; }

    // 8-byte aligned memory, or null when the system has none.
    void *alloc(size_t size) {
        size = (size + 7) & ~(size_t)7;
        if (current_ < blocks_.size() && blocks_[current_].size - used_ >= size) {
            void *p = blocks_[current_].data + used_;
            used_ += size;
            return p;
        }
        // Move on to the next block, replacing it when it is too small.
        size_t next = blocks_.empty() ? 0 : current_ + 1;
        if (next == blocks_.size()) blocks_.push_back(Block{nullptr, 0});
        Block &b = blocks_[next];
        if (b.size < size) {
            size_t want = size > kBlockSize ? size : kBlockSize;
            char *data = static_cast<char *>(malloc(want));
            if (!data) return nullptr;
            free(b.data);
            b.data = data;
            b.size = want;
        }
        current_ = next;
        used_ = size;
        return b.data;
    }

    // Frees everything allocated since m; large blocks go back to the system.
    void release(Mark m) {
        for (size_t i = m.block + 1; i < blocks_.size(); i++) {
            if (blocks_[i].size > kBlockSize) {
                free(blocks_[i].data);
                blocks_[i].data = nullptr;
                blocks_[i].size = 0;
            }
        }
        if (m.used == 0 && m.block < blocks_.size() && blocks_[m.block].size > kBlockSize) {
            free(blocks_[m.block].data);
            blocks_[m.block].data = nullptr;
            blocks_[m.block].size = 0;
        }
        current_ = m.block;
        used_ = m.used;
    }

private:
    static const size_t kBlockSize = 16 * 1024;
    struct Block {
        char *data;
        size_t size;
    };
    std::vector<Block> blocks_;
    size_t current_ = 0;
    size_t used_ = 0;
};

}  // namespace kx4

#endif

/* The heap lock: owning it is what a "request" means. One OS thread at a
 * time runs engine code; the owner may nest. Waiters are served in arrival
 * order so a thread that hands the heap over cannot take it straight back.
 * Portable code (std::mutex), tested natively. */
#ifndef KX4_HEAP_LOCK_H
#define KX4_HEAP_LOCK_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdint.h>
#include <thread>

namespace kx4 {

class HeapLock {
public:
    // Takes the lock, or deepens the nesting when this thread owns it.
    void enter();
    // Undoes one enter; the last one releases the lock.
    void leave();
    // Releases completely, whatever the nesting; returns the depth held.
    int releaseAll();
    // Takes the lock again with the depth releaseAll returned.
    void reacquire(int depth);

    bool ownedByThisThread() const { return owner_.load() == std::this_thread::get_id(); }
    int depth() const { return depth_; }
    // True when another thread waits for the heap.
    bool othersWaiting() const { return next_.load() - serving_.load() > 1; }
    // How long the owner has held the lock since it last took it.
    std::chrono::steady_clock::duration heldFor() const {
        return std::chrono::steady_clock::now() - since_;
    }

private:
    void acquire();
    void release();

    std::mutex mutex_;
    std::condition_variable turn_;
    std::atomic<uint64_t> next_{0};
    std::atomic<uint64_t> serving_{0};
    std::atomic<std::thread::id> owner_{};
    int depth_ = 0;
    std::chrono::steady_clock::time_point since_;
};

}  // namespace kx4

#endif

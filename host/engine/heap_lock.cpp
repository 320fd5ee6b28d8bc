#include "heap_lock.h"

namespace kx4 {

void HeapLock::acquire() {
    std::unique_lock<std::mutex> lock(mutex_);
    uint64_t ticket = next_.fetch_add(1);
    turn_.wait(lock, [&] { return serving_.load() == ticket; });
    owner_.store(std::this_thread::get_id());
    since_ = std::chrono::steady_clock::now();
}

void HeapLock::release() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        owner_.store(std::thread::id());
        serving_.fetch_add(1);
    }
    turn_.notify_all();
}

void HeapLock::enter() {
    if (ownedByThisThread()) {
        depth_++;
        return;
    }
    acquire();
    depth_ = 1;
}

void HeapLock::leave() {
    if (--depth_ == 0) release();
}

int HeapLock::releaseAll() {
    int depth = depth_;
    depth_ = 0;
    release();
    return depth;
}

void HeapLock::reacquire(int depth) {
    acquire();
    depth_ = depth > 0 ? depth : 1;
}

}  // namespace kx4

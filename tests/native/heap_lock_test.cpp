// The heap lock: nesting, release-all/reacquire, and hand-over order.
#include <atomic>
#include <thread>
#include <vector>

#include "check.h"
#include "heap_lock.h"

using namespace kx4;

static void nesting() {
    HeapLock lock;
    lock.enter();
    lock.enter();
    CHECK(lock.ownedByThisThread() && lock.depth() == 2);
    int depth = lock.releaseAll();
    CHECK(depth == 2 && !lock.ownedByThisThread());
    // Another thread can take it while it is released.
    std::thread other([&] {
        lock.enter();
        lock.leave();
    });
    other.join();
    lock.reacquire(depth);
    CHECK(lock.depth() == 2);
    lock.leave();
    lock.leave();
    CHECK(!lock.ownedByThisThread());
}

static void mutualExclusion() {
    HeapLock lock;
    long counter = 0;  // guarded by the lock only
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++)
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; i++) {
                lock.enter();
                counter++;
                lock.leave();
            }
        });
    for (auto &t : threads) t.join();
    CHECK(counter == 80000);
}

static void waitersServedFirst() {
    // A holder that hands over (releaseAll + reacquire) while someone waits
    // must let the waiter in before it gets the lock back.
    HeapLock lock;
    lock.enter();
    std::atomic<bool> waiterRan{false};
    std::thread waiter([&] {
        lock.enter();
        waiterRan = true;
        lock.leave();
    });
    while (!lock.othersWaiting()) std::this_thread::yield();
    int depth = lock.releaseAll();
    lock.reacquire(depth);
    CHECK(waiterRan.load());
    lock.leave();
    waiter.join();
    CHECK(!lock.othersWaiting());
}

int main() {
    nesting();
    mutualExclusion();
    waitersServedFirst();
    return checkResult("heap_lock_test");
}

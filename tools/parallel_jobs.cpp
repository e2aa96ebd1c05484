#include "tools/parallel_jobs.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace pelmo::tools {

void RunParallel(std::size_t count, unsigned jobs, const std::function<void(std::size_t)>& work,
                 const std::function<void()>& tick) {
    if (jobs == 0) jobs = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t threads = std::min<std::size_t>(jobs, count);
    std::atomic<std::size_t> next{0};
    std::mutex mutex;
    std::condition_variable allDone;
    std::size_t running = threads;
    std::vector<std::thread> pool;
    for (std::size_t t = 0; t < threads; ++t) {
        pool.emplace_back([&] {
            for (std::size_t i; (i = next++) < count;) work(i);
            std::lock_guard lock(mutex);
            if (--running == 0) allDone.notify_all();
        });
    }
    {
        std::unique_lock lock(mutex);
        while (running > 0) {
            allDone.wait_for(lock, std::chrono::milliseconds(200));
            if (tick) {
                lock.unlock();
                tick();
                lock.lock();
            }
        }
    }
    for (std::thread& thread : pool) thread.join();
}

}  // namespace pelmo::tools

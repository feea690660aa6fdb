// The cost of handing work to the thread pool: one call of parallel_for with
// one task per thread, each waiting until all have started (so every worker
// must take part), timed from entry to return, for several spin limits and
// for three ways of calling it:
//   hot      calls back to back
//   gap      10 us of serial work between calls (an epoch's serial steps)
//   idle     2 ms of sleep between calls (workers asleep unless they spin that long)
//   pool_bench [calls]
// Prints the median and the 90th percentile in microseconds.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "thread_pool.hpp"

namespace {

using Clock = std::chrono::steady_clock;

void busy_for(std::chrono::nanoseconds duration) {
    auto end = Clock::now() + duration;
    while (Clock::now() < end) {
    }
}

struct Mode {
    const char* name;
    std::chrono::nanoseconds serial_work;
    std::chrono::nanoseconds sleep;
};

void measure(ThreadPool& pool, size_t threads, const Mode& mode, size_t calls, long spin) {
    std::vector<double> times;
    std::atomic<size_t> started{0};
    std::function<void(size_t)> task = [&](size_t) {
        started.fetch_add(1);
        while (started.load() % threads != 0) {
        }
    };
    for (size_t call = 0; call < calls; ++call) {
        if (mode.sleep.count() > 0) std::this_thread::sleep_for(mode.sleep);
        if (mode.serial_work.count() > 0) busy_for(mode.serial_work);
        auto start = Clock::now();
        run_tasks(pool, threads, task);
        times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    std::printf("spin %4ld us  %-5s  median %7.2f us  p90 %7.2f us\n", spin, mode.name, times[times.size() / 2],
                times[times.size() * 9 / 10]);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    size_t calls = argc > 1 ? size_t(std::atol(argv[1])) : 2000;
    size_t threads = pool_thread_count();
    std::printf("process pool: %zu threads\n", threads);
    if (threads < 2) threads = 2;
    const Mode modes[] = {
        {"hot", std::chrono::nanoseconds(0), std::chrono::nanoseconds(0)},
        {"gap", std::chrono::microseconds(10), std::chrono::nanoseconds(0)},
        {"idle", std::chrono::nanoseconds(0), std::chrono::milliseconds(2)},
    };
    for (long spin : {0L, 20L, 100L, 500L}) {
        ThreadPoolHandle pool = make_thread_pool(threads, std::chrono::microseconds(spin));
        for (const Mode& mode : modes) measure(*pool, threads, mode, mode.sleep.count() > 0 ? calls / 10 : calls, spin);
    }
    return 0;
}

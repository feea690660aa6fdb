#pragma once
// Worker threads for data-parallel passes. The process has one fixed pool,
// sized once to the cores it may use and created on first use; workers run
// only the tasks handed to them (never Python code) and sleep between calls
// after a short spin.
//
// Results must not depend on the thread count: callers split their work into
// tasks whose boundaries are fixed by the data alone, and combine anything
// summed over tasks themselves, in task order, after the call returns.

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Runs task(0), ..., task(task_count - 1), each exactly once, on the process's
// pool and the calling thread, tasks claimed dynamically; returns when all
// have finished. When tasks throw, the exception of the lowest-indexed
// failing task is rethrown once the others have finished (tasks above a
// failed one may be skipped). Calls from several threads run one at a time; a
// call from inside a task runs its tasks inline on that thread. After fork()
// the child gets a fresh pool on its first call (a task itself must not fork).
void parallel_for(size_t task_count, const std::function<void(size_t task)>& task);

// body(first, count) over [0, n) in chunks of `chunk` items (the last one
// shorter), on the pool when there is more than one. For chunks that are
// independent of each other, each worth a hand-over (some microseconds).
void parallel_chunks(size_t n, size_t chunk, const std::function<void(size_t first, size_t count)>& body);

// Threads the process's pool works with, the caller's included (at least 1).
size_t pool_thread_count();

// A pool of its own, for tests and benchmarks: `threads` including the
// caller's, workers spinning for `spin` before they sleep. Destroying it
// joins the workers.
struct ThreadPool;
struct ThreadPoolDeleter {
    void operator()(ThreadPool* pool) const;
};
using ThreadPoolHandle = std::unique_ptr<ThreadPool, ThreadPoolDeleter>;
ThreadPoolHandle make_thread_pool(size_t threads, std::chrono::microseconds spin);
// parallel_for on that pool.
void run_tasks(ThreadPool& pool, size_t task_count, const std::function<void(size_t task)>& task);

// What limits the pool's size, as read from the process and its environment.
struct CpuLimits {
    size_t affinity_cpus = 0;                    // CPUs in the affinity mask; 0 when unknown
    std::vector<std::string> cgroup_v2_cpu_max;  // each cpu.max from the process's cgroup up to the root
    struct CfsQuota {
        std::string quota_us, period_us;         // cgroup v1 cpu.cfs_quota_us, cpu.cfs_period_us
    };
    std::vector<CfsQuota> cgroup_v1_quotas;      // likewise for cgroup v1
    std::optional<std::string> omp_num_threads;       // OMP_NUM_THREADS, when set
    std::optional<std::string> openblas_num_threads;  // OPENBLAS_NUM_THREADS, when set
};

// The pool size for these limits: the affinity CPUs, capped by every cgroup
// quota (quota / period rounded up), then by each thread variable that holds
// a positive count (for OMP_NUM_THREADS its first entry). Unreadable or
// unlimited entries cap nothing; the result is at least 1.
size_t thread_count_for(const CpuLimits& limits);

// The limits of the calling process: its affinity, /proc/self/cgroup, its environment.
CpuLimits current_cpu_limits();

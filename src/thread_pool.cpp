#include "thread_pool.hpp"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <thread>

#include "condition_wait.hpp"

// --- Sizing ------------------------------------------------------------------

namespace {

// A decimal count above 0 with nothing else around it but white space.
std::optional<uint64_t> positive_count(const std::string& text) {
    size_t begin = text.find_first_not_of(" \t\n");
    size_t end = text.find_last_not_of(" \t\n");
    if (begin == std::string::npos) return std::nullopt;
    uint64_t value = 0;
    for (size_t i = begin; i <= end; ++i) {
        char c = text[i];
        if (c < '0' || c > '9' || value > (UINT64_MAX - 9) / 10) return std::nullopt;
        value = value * 10 + uint64_t(c - '0');
    }
    if (value == 0) return std::nullopt;
    return value;
}

// CPUs that a quota of `quota` microseconds per `period` allows, rounded up;
// none for "max", -1 (cgroup v1's "unlimited") or anything unreadable.
std::optional<size_t> quota_cpus(const std::string& quota, const std::string& period) {
    std::optional<uint64_t> q = positive_count(quota), p = positive_count(period);
    if (!q || !p) return std::nullopt;
    return size_t(*q / *p + (*q % *p != 0));
}

// cpu.max holds "QUOTA PERIOD" or "max PERIOD".
std::optional<size_t> cpu_max_cpus(const std::string& cpu_max) {
    std::istringstream fields(cpu_max);
    std::string quota, period;
    fields >> quota >> period;
    return quota_cpus(quota, period);
}

}  // namespace

size_t thread_count_for(const CpuLimits& limits) {
    size_t count = std::max<size_t>(limits.affinity_cpus, 1);
    auto cap = [&](std::optional<size_t> limit) {
        if (limit) count = std::min(count, std::max<size_t>(*limit, 1));
    };
    for (const std::string& cpu_max : limits.cgroup_v2_cpu_max) cap(cpu_max_cpus(cpu_max));
    for (const CpuLimits::CfsQuota& q : limits.cgroup_v1_quotas) cap(quota_cpus(q.quota_us, q.period_us));
    auto variable_count = [](const std::optional<std::string>& value) -> std::optional<size_t> {
        if (!value) return std::nullopt;
        std::optional<uint64_t> n = positive_count(value->substr(0, value->find(',')));
        if (!n) return std::nullopt;
        return size_t(std::min<uint64_t>(*n, SIZE_MAX));
    };
    cap(variable_count(limits.omp_num_threads));
    cap(variable_count(limits.openblas_num_threads));
    return count;
}

namespace {

size_t affinity_cpu_count() {
    for (size_t cpus = 1024; cpus <= (size_t(1) << 20); cpus *= 2) {
        cpu_set_t* set = CPU_ALLOC(cpus);
        if (set == nullptr) return 0;
        size_t bytes = CPU_ALLOC_SIZE(cpus);
        CPU_ZERO_S(bytes, set);
        int ok = sched_getaffinity(0, bytes, set);
        size_t count = ok == 0 ? size_t(CPU_COUNT_S(bytes, set)) : 0;
        CPU_FREE(set);
        if (ok == 0) return count;
        if (errno != EINVAL) return 0;  // EINVAL: the mask is larger than the set
    }
    return 0;
}

std::optional<std::string> file_text(const std::string& path) {
    std::ifstream file(path);
    if (!file) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// `path` inside `root` and each of its ancestors up to `root` itself.
std::vector<std::string> directories_up_to_root(const std::string& root, std::string path) {
    std::vector<std::string> directories;
    while (!path.empty() && path != "/") {
        directories.push_back(root + path);
        path.erase(path.rfind('/'));
    }
    directories.push_back(root);
    return directories;
}

std::optional<std::string> environment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

}  // namespace

CpuLimits current_cpu_limits() {
    CpuLimits limits;
    limits.affinity_cpus = affinity_cpu_count();
    if (limits.affinity_cpus == 0) limits.affinity_cpus = std::thread::hardware_concurrency();
    // Lines of /proc/self/cgroup: "ID:CONTROLLERS:PATH"; cgroup v2 has ID 0
    // and no controllers. Directories that do not exist here (a path seen
    // from outside a container's namespace) are skipped.
    std::istringstream lines(file_text("/proc/self/cgroup").value_or(""));
    std::string line;
    while (std::getline(lines, line)) {
        size_t first = line.find(':'), second = line.find(':', first + 1);
        if (first == std::string::npos || second == std::string::npos) continue;
        std::string controllers = line.substr(first + 1, second - first - 1);
        std::string path = line.substr(second + 1);
        if (controllers.empty()) {
            for (const std::string& dir : directories_up_to_root("/sys/fs/cgroup", path))
                if (auto cpu_max = file_text(dir + "/cpu.max")) limits.cgroup_v2_cpu_max.push_back(*cpu_max);
            continue;
        }
        bool has_cpu = ("," + controllers + ",").find(",cpu,") != std::string::npos;
        if (!has_cpu) continue;
        for (const std::string& dir : directories_up_to_root("/sys/fs/cgroup/" + controllers, path)) {
            auto quota = file_text(dir + "/cpu.cfs_quota_us"), period = file_text(dir + "/cpu.cfs_period_us");
            if (quota && period) limits.cgroup_v1_quotas.push_back({*quota, *period});
        }
    }
    limits.omp_num_threads = environment("OMP_NUM_THREADS");
    limits.openblas_num_threads = environment("OPENBLAS_NUM_THREADS");
    return limits;
}

// --- The pool ------------------------------------------------------------------

namespace {

thread_local bool inside_task = false;

void spin_pause() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

// Spins until done() holds or `limit` has passed; returns done().
template <class Done>
bool spin_until(Done done, std::chrono::microseconds limit) {
    if (done()) return true;
    if (limit.count() == 0) return false;
    auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        for (int i = 0; i < 16; ++i) {
            spin_pause();
            if (done()) return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) return done();
    }
}

// One parallel_for call. Shared with the workers, so a worker that wakes late
// touches only this record, never the caller's frame.
struct Job {
    size_t task_count = 0;
    const std::function<void(size_t)>* task = nullptr;  // valid while tasks remain
    std::atomic<size_t> next{0};                        // next task to claim
    std::atomic<size_t> unfinished{0};                  // tasks neither finished nor skipped
    std::atomic<size_t> failed_task{SIZE_MAX};          // lowest task that threw so far
    std::exception_ptr failure;                         // its exception; under failure_mutex
    std::mutex failure_mutex;
    bool finished = false;                              // under done_mutex
    std::mutex done_mutex;
    std::condition_variable done;
};

void record_failure(Job& job, size_t task, std::exception_ptr failure) {
    std::lock_guard<std::mutex> lock(job.failure_mutex);
    if (task < job.failed_task.load(std::memory_order_relaxed)) {
        job.failure = std::move(failure);
        job.failed_task.store(task, std::memory_order_release);
    }
}

// Claims and runs tasks until none is left. A task above a failed one is
// skipped: its result would be thrown away with the rest of the call's.
void work_on(Job& job) {
    for (;;) {
        size_t task = job.next.fetch_add(1, std::memory_order_relaxed);
        if (task >= job.task_count) return;
        if (task < job.failed_task.load(std::memory_order_acquire)) {
            inside_task = true;
            try {
                (*job.task)(task);
            } catch (...) {
                record_failure(job, task, std::current_exception());
            }
            inside_task = false;
        }
        if (job.unfinished.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            std::lock_guard<std::mutex> lock(job.done_mutex);
            job.finished = true;
            job.done.notify_all();
        }
    }
}

// The tasks in order on the calling thread, up to the first that throws.
void run_inline(size_t task_count, const std::function<void(size_t)>& task) {
    bool was_inside = inside_task;
    inside_task = true;
    try {
        for (size_t i = 0; i < task_count; ++i) task(i);
    } catch (...) {
        inside_task = was_inside;
        throw;
    }
    inside_task = was_inside;
}

}  // namespace

struct ThreadPool {
    size_t threads = 1;
    std::chrono::microseconds spin{0};
    std::mutex dispatch;  // one call at a time

    std::mutex mutex;  // guards current, sleepers, stopping and changes of generation
    std::condition_variable wake;
    std::shared_ptr<Job> current;
    std::atomic<uint64_t> generation{0};  // bumped for every job; spinning workers watch it
    size_t sleepers = 0;
    bool stopping = false;
    std::vector<std::thread> workers;
};

namespace {

// The next job after the one numbered `seen`, or null when the pool stops.
std::shared_ptr<Job> next_job(ThreadPool& pool, uint64_t& seen) {
    auto changed = [&] { return pool.generation.load(std::memory_order_acquire) != seen; };
    spin_until(changed, pool.spin);
    std::unique_lock<std::mutex> lock(pool.mutex);
    if (!changed() && !pool.stopping) {
        ++pool.sleepers;
        condition_wait(pool.wake, lock, [&] { return changed() || pool.stopping; });
        --pool.sleepers;
    }
    if (pool.stopping) return nullptr;
    seen = pool.generation.load(std::memory_order_relaxed);
    return pool.current;
}

void worker_main(ThreadPool* pool) {
    uint64_t seen = 0;
    while (std::shared_ptr<Job> job = next_job(*pool, seen)) work_on(*job);
}

void stop_workers(ThreadPool& pool) {
    {
        std::lock_guard<std::mutex> lock(pool.mutex);
        pool.stopping = true;
    }
    pool.wake.notify_all();
    for (std::thread& worker : pool.workers) worker.join();
}

}  // namespace

void ThreadPoolDeleter::operator()(ThreadPool* pool) const {
    stop_workers(*pool);
    delete pool;
}

ThreadPoolHandle make_thread_pool(size_t threads, std::chrono::microseconds spin) {
    ThreadPoolHandle pool(new ThreadPool);
    pool->threads = std::max<size_t>(threads, 1);
    pool->spin = spin;
    try {
        for (size_t i = 1; i < pool->threads; ++i) pool->workers.emplace_back(worker_main, pool.get());
    } catch (...) {
        // No thread could be started: the pool works with those it has.
        pool->threads = pool->workers.size() + 1;
    }
    return pool;
}

void run_tasks(ThreadPool& pool, size_t task_count, const std::function<void(size_t)>& task) {
    if (task_count == 0) return;
    if (task_count == 1 || pool.threads == 1 || inside_task) return run_inline(task_count, task);
    std::lock_guard<std::mutex> dispatch(pool.dispatch);
    auto job = std::make_shared<Job>();
    job->task_count = task_count;
    job->task = &task;
    job->unfinished.store(task_count, std::memory_order_relaxed);
    {
        std::lock_guard<std::mutex> lock(pool.mutex);
        pool.current = job;
        pool.generation.fetch_add(1, std::memory_order_release);
        if (pool.sleepers > 0) pool.wake.notify_all();
    }
    work_on(*job);
    if (!spin_until([&] { return job->unfinished.load(std::memory_order_acquire) == 0; }, pool.spin)) {
        std::unique_lock<std::mutex> lock(job->done_mutex);
        condition_wait(job->done, lock, [&] { return job->finished; });
    }
    if (job->failure) std::rethrow_exception(job->failure);
}

// --- The process's pool -----------------------------------------------------------

namespace {

// Long enough to keep workers awake across the short serial steps between
// the passes of a small network's epoch.
constexpr std::chrono::microseconds process_pool_spin{100};

std::mutex process_pool_mutex;  // guards process_pool; held across fork()
ThreadPool* process_pool = nullptr;
ThreadPool* abandoned_pool = nullptr;  // a forked child's copy of its parent's, kept reachable

// A forked child has only the thread that called fork(): the parent's workers
// do not exist there, so their pool is left as it is (never joined or freed)
// and the child starts a new one when it needs one. No call is under way in
// the pool while fork() copies it.
void before_fork() {
    process_pool_mutex.lock();
    if (process_pool != nullptr) process_pool->dispatch.lock();
}
void after_fork_in_parent() {
    if (process_pool != nullptr) process_pool->dispatch.unlock();
    process_pool_mutex.unlock();
}
void after_fork_in_child() {
    if (process_pool != nullptr) abandoned_pool = process_pool;
    process_pool = nullptr;
    process_pool_mutex.unlock();
}

ThreadPool& the_process_pool() {
    static std::once_flag registered;
    std::call_once(registered, [] { pthread_atfork(before_fork, after_fork_in_parent, after_fork_in_child); });
    std::lock_guard<std::mutex> lock(process_pool_mutex);
    if (process_pool == nullptr)
        process_pool = make_thread_pool(thread_count_for(current_cpu_limits()), process_pool_spin).release();
    return *process_pool;
}

}  // namespace

void parallel_for(size_t task_count, const std::function<void(size_t)>& task) {
    if (task_count <= 1 || inside_task) return run_inline(task_count, task);
    run_tasks(the_process_pool(), task_count, task);
}

void parallel_chunks(size_t n, size_t chunk, const std::function<void(size_t first, size_t count)>& body) {
    size_t chunks = (n + chunk - 1) / chunk;
    parallel_for(chunks, [&](size_t c) { body(c * chunk, std::min(chunk, n - c * chunk)); });
}

size_t pool_thread_count() { return the_process_pool().threads; }

#include "thread_pool.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "blas_threads.hpp"
#include "panic.hpp"

namespace {

using std::chrono::microseconds;

// Runs `count` tasks and reports whether each ran exactly once.
template <class Run>
bool each_task_ran_once(size_t count, Run run) {
    std::vector<std::atomic<int>> runs(count);
    run(count, [&](size_t task) { runs[task].fetch_add(1); });
    for (const std::atomic<int>& r : runs)
        if (r.load() != 1) return false;
    return true;
}

TEST(ThreadPool, RunsEveryTaskExactlyOnce) {
    for (size_t threads : {1, 2, 4})
        for (long spin : {0L, 50L}) {
            ThreadPoolHandle pool = make_thread_pool(threads, microseconds(spin));
            for (size_t count : {0, 1, 2, 3, 17, 1000})
                for (int call = 0; call < 20; ++call)
                    EXPECT_TRUE(each_task_ran_once(count, [&](size_t n, const std::function<void(size_t)>& task) {
                        run_tasks(*pool, n, task);
                    })) << threads << " threads, spin " << spin << ", " << count << " tasks";
        }
    EXPECT_TRUE(each_task_ran_once(100, parallel_for));
}

TEST(ThreadPool, RethrowsTheLowestFailingTasksExceptionAfterTheOthersFinish) {
    ThreadPoolHandle pool = make_thread_pool(4, microseconds(0));
    for (int call = 0; call < 50; ++call) {
        std::atomic<int> running{0};
        std::string message;
        try {
            run_tasks(*pool, 64, [&](size_t task) {
                running.fetch_add(1);
                if (task == 9 || task == 5 || task == 40) {
                    running.fetch_sub(1);
                    throw Panic("task " + std::to_string(task));
                }
                std::this_thread::yield();
                running.fetch_sub(1);
            });
        } catch (const Panic& e) {
            message = e.what();
        }
        EXPECT_EQ(message, "task 5");
        EXPECT_EQ(running.load(), 0);  // nothing still running when the call returned
    }
    EXPECT_THROW(run_tasks(*pool, 8, [](size_t task) { if (task == 3) throw std::bad_alloc(); }),
                 std::bad_alloc);
    EXPECT_THROW(parallel_for(8, [](size_t task) { if (task == 7) throw Panic("last"); }), Panic);
    // The pool works on after failures.
    EXPECT_TRUE(each_task_ran_once(100, [&](size_t n, const std::function<void(size_t)>& task) {
        run_tasks(*pool, n, task);
    }));
}

TEST(ThreadPool, TakesCallsFromSeveralThreadsAndFromInsideTasks) {
    std::vector<std::thread> callers;
    std::atomic<int> failures{0};
    for (int t = 0; t < 4; ++t)
        callers.emplace_back([&] {
            for (int call = 0; call < 100; ++call)
                if (!each_task_ran_once(7, parallel_for)) failures.fetch_add(1);
        });
    for (std::thread& caller : callers) caller.join();
    EXPECT_EQ(failures.load(), 0);
    std::atomic<int> inner_runs{0};
    parallel_for(4, [&](size_t) { parallel_for(3, [&](size_t) { inner_runs.fetch_add(1); }); });
    EXPECT_EQ(inner_runs.load(), 12);
}

TEST(ThreadPool, AForkedChildGetsAPoolOfItsOwn) {
    ASSERT_TRUE(each_task_ran_once(10, parallel_for));  // the parent's pool exists
    pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        alarm(20);  // a hang fails the test instead of blocking it
        _exit(each_task_ran_once(1000, parallel_for) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    EXPECT_TRUE(each_task_ran_once(10, parallel_for));
}

TEST(ThreadPool, SizeComesFromAffinityQuotasAndThreadVariables) {
    auto limits = [](size_t cpus) {
        CpuLimits l;
        l.affinity_cpus = cpus;
        return l;
    };
    struct Case {
        const char* name;
        CpuLimits limits;
        size_t expected;
    };
    std::vector<Case> cases;
    cases.push_back({"affinity alone", limits(8), 8});
    cases.push_back({"affinity unknown", limits(0), 1});
    CpuLimits l = limits(8);
    l.cgroup_v2_cpu_max = {"200000 100000\n"};
    cases.push_back({"v2 quota of two CPUs", l, 2});
    l.cgroup_v2_cpu_max = {"150000 100000\n"};
    cases.push_back({"v2 quota rounded up", l, 2});
    l.cgroup_v2_cpu_max = {"20000 100000\n"};
    cases.push_back({"v2 quota below one CPU", l, 1});
    l.cgroup_v2_cpu_max = {"max 100000\n", "300000 100000\n", "max 100000\n"};
    cases.push_back({"v2 quota of an ancestor", l, 3});
    l.cgroup_v2_cpu_max = {"max 100000\n", "garbage", ""};
    cases.push_back({"v2 unlimited or unreadable", l, 8});
    l = limits(8);
    l.cgroup_v1_quotas = {{"-1\n", "100000\n"}};
    cases.push_back({"v1 unlimited", l, 8});
    l.cgroup_v1_quotas = {{"-1\n", "100000\n"}, {"400000\n", "100000\n"}};
    cases.push_back({"v1 quota", l, 4});
    l.cgroup_v1_quotas = {{"100000\n", "0\n"}};
    cases.push_back({"v1 zero period", l, 8});
    l = limits(8);
    l.omp_num_threads = "3";
    cases.push_back({"OMP_NUM_THREADS", l, 3});
    l.omp_num_threads = "3,2";
    cases.push_back({"OMP_NUM_THREADS list", l, 3});
    l.omp_num_threads = "16";
    cases.push_back({"OMP_NUM_THREADS above the CPUs", l, 8});
    for (const char* ignored : {"0", "", "two", "-1", "99999999999999999999999"}) {
        l.omp_num_threads = ignored;
        cases.push_back({"OMP_NUM_THREADS ignored", l, 8});
    }
    l.omp_num_threads = "4";
    l.openblas_num_threads = "1";
    cases.push_back({"OPENBLAS_NUM_THREADS", l, 1});
    for (const Case& c : cases) EXPECT_EQ(thread_count_for(c.limits), c.expected) << c.name;
}

TEST(BlasThreads, TheThreadCountTakesEffect) {
    int original = blas_thread_count();
    ASSERT_GE(original, 1);
    set_blas_thread_count(1);
    EXPECT_EQ(blas_thread_count(), 1);
    set_blas_thread_count(original);
    EXPECT_EQ(blas_thread_count(), original);
}

}  // namespace

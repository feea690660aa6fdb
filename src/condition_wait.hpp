#pragma once
// Waiting on a std::condition_variable by pthread_cond_wait on its native
// handle, which is what its wait() does: libstdc++ 12 gave wait() a new
// symbol version (GLIBCXX_3.4.30), and calling it would raise the oldest
// glibc the wheel can run on from 2.34 to 2.35.

#include <pthread.h>

#include <condition_variable>
#include <mutex>

inline void condition_wait(std::condition_variable& changed, std::unique_lock<std::mutex>& lock) {
    ::pthread_cond_wait(changed.native_handle(), lock.mutex()->native_handle());
}

template <class Predicate>
void condition_wait(std::condition_variable& changed, std::unique_lock<std::mutex>& lock, Predicate ready) {
    while (!ready()) condition_wait(changed, lock);
}

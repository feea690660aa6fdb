#include "blas_threads.hpp"

// Weak: a system CBLAS other than OpenBLAS has neither function.
#ifndef BRENIK_BLAS_PREFIX
#define BRENIK_BLAS_PREFIX scipy_
#endif
#define BRENIK_PASTE_(prefix, name) prefix##name
#define BRENIK_PASTE(prefix, name) BRENIK_PASTE_(prefix, name)
#define BRENIK_SET_THREADS BRENIK_PASTE(BRENIK_BLAS_PREFIX, openblas_set_num_threads)
#define BRENIK_GET_THREADS BRENIK_PASTE(BRENIK_BLAS_PREFIX, openblas_get_num_threads)

extern "C" {
void BRENIK_SET_THREADS(int threads) __attribute__((weak));
int BRENIK_GET_THREADS() __attribute__((weak));
}

void set_blas_thread_count(int threads) {
    if (BRENIK_SET_THREADS != nullptr) BRENIK_SET_THREADS(threads);
}

int blas_thread_count() { return BRENIK_GET_THREADS != nullptr ? BRENIK_GET_THREADS() : 1; }

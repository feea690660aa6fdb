#include "candidates.hpp"

Candidate openblas_candidate();
#ifdef BRENIK_BENCH_WITH_MKL
Candidate mkl_candidate();
Candidate mkl_jit_candidate();
#endif
#ifdef BRENIK_BENCH_WITH_LIBXSMM
Candidate libxsmm_candidate();
#endif
#ifdef BRENIK_BENCH_WITH_BLIS
Candidate blis_candidate();
#endif

std::vector<Candidate> linked_candidates() {
    set_openblas_threads(1);
    std::vector<Candidate> candidates{openblas_candidate()};
#ifdef BRENIK_BENCH_WITH_MKL
    candidates.push_back(mkl_candidate());
    candidates.push_back(mkl_jit_candidate());
#endif
#ifdef BRENIK_BENCH_WITH_LIBXSMM
    candidates.push_back(libxsmm_candidate());
#endif
#ifdef BRENIK_BENCH_WITH_BLIS
    candidates.push_back(blis_candidate());
#endif
    return candidates;
}

// The bundled OpenBLAS (scipy-openblas32): every symbol carries the scipy_ prefix.
#include "candidates.hpp"

extern "C" {
void scipy_cblas_sgemm(int order, int transpose_a, int transpose_b, int m, int n, int k, float alpha,
                       const float* a, int lda, const float* b, int ldb, float beta, float* c, int ldc);
void scipy_openblas_set_num_threads(int threads);
}

void set_openblas_threads(int threads) { scipy_openblas_set_num_threads(threads); }

Candidate openblas_candidate() {
    return {"openblas", [](const GemmShape& s) -> Gemm {
                return [s](const float* a, const float* b, float* c) {
                    scipy_cblas_sgemm(101, s.transpose_a ? 112 : 111, s.transpose_b ? 112 : 111, s.m, s.n, s.k,
                                      1.0f, a, s.lda, b, s.ldb, s.beta, c, s.ldc);
                };
            }};
}

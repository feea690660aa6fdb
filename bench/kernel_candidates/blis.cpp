// BLIS (Debian libblis-dev) through its typed API, which takes row and column
// strides, so row-major operands need no swap.
#include <blis.h>

#include "candidates.hpp"

Candidate blis_candidate() {
    return {"blis", [](const GemmShape& s) -> Gemm {
                return [s](const float* a, const float* b, float* c) {
                    float alpha = 1.0f, beta = s.beta;
                    bli_sgemm(s.transpose_a ? BLIS_TRANSPOSE : BLIS_NO_TRANSPOSE,
                              s.transpose_b ? BLIS_TRANSPOSE : BLIS_NO_TRANSPOSE, s.m, s.n, s.k, &alpha,
                              const_cast<float*>(a), s.lda, 1, const_cast<float*>(b), s.ldb, 1, &beta, c, s.ldc, 1);
                };
            }};
}

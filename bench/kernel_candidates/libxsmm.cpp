// libxsmm (Debian libxsmm-dev): JIT small-matrix kernels, column-major. A
// row-major C = op(A) · op(B) is the column-major C^T = op(B)^T · op(A)^T, so
// the operands and their transpose flags swap places.
#include <memory>
#include <vector>

#include <libxsmm.h>

#include "candidates.hpp"

namespace {

libxsmm_smmfunction dispatch(const GemmShape& s) {
    int flags = (s.transpose_b ? LIBXSMM_GEMM_FLAG_TRANS_A : 0) | (s.transpose_a ? LIBXSMM_GEMM_FLAG_TRANS_B : 0) |
                (s.beta == 0.0f ? LIBXSMM_GEMM_FLAG_BETA_0 : 0);
    libxsmm_blasint lda = s.ldb, ldb = s.lda, ldc = s.ldc;
    float alpha = 1.0f, beta = s.beta;
    int prefetch = LIBXSMM_GEMM_PREFETCH_NONE;
    return libxsmm_smmdispatch(s.n, s.m, s.k, &lda, &ldb, &ldc, &alpha, &beta, &flags, &prefetch);
}

}  // namespace

Candidate libxsmm_candidate() {
    libxsmm_init();
    return {"libxsmm", [](const GemmShape& s) -> Gemm {
                if (libxsmm_smmfunction kernel = dispatch(s))
                    return [kernel](const float* a, const float* b, float* c) { kernel(b, a, c); };
                if (!s.transpose_b || s.transpose_a) return {};
                // No kernel reads B transposed (1.17): B^T is copied once, on the
                // first call (an epoch would copy the weights once per step), and
                // the plain kernel reads the copy.
                GemmShape plain = s;
                plain.transpose_b = false;
                plain.ldb = s.n;
                libxsmm_smmfunction kernel = dispatch(plain);
                if (kernel == nullptr) return {};
                auto copy = std::make_shared<std::vector<float>>();
                auto source = std::make_shared<const float*>(nullptr);
                return [kernel, copy, source, s](const float* a, const float* b, float* c) {
                    if (*source != b) {
                        copy->resize(size_t(s.k) * s.n);
                        for (int i = 0; i < s.k; ++i)
                            for (int j = 0; j < s.n; ++j) (*copy)[size_t(i) * s.n + j] = b[size_t(j) * s.ldb + i];
                        *source = b;
                    }
                    kernel(copy->data(), a, c);
                };
            }};
}

// MKL from PyPI (mkl-static, mkl-include), sequential layer: cblas_sgemm, and
// the JIT kernels it generates for one fixed shape.
#include <memory>

#include <mkl.h>

#include "candidates.hpp"

Candidate mkl_candidate() {
    return {"mkl", [](const GemmShape& s) -> Gemm {
                return [s](const float* a, const float* b, float* c) {
                    cblas_sgemm(CblasRowMajor, s.transpose_a ? CblasTrans : CblasNoTrans,
                                s.transpose_b ? CblasTrans : CblasNoTrans, s.m, s.n, s.k, 1.0f, a, s.lda, b, s.ldb,
                                s.beta, c, s.ldc);
                };
            }};
}

Candidate mkl_jit_candidate() {
    return {"mkl_jit", [](const GemmShape& s) -> Gemm {
                void* jitter = nullptr;
                mkl_jit_status_t status = mkl_jit_create_sgemm(
                    &jitter, MKL_ROW_MAJOR, s.transpose_a ? MKL_TRANS : MKL_NOTRANS,
                    s.transpose_b ? MKL_TRANS : MKL_NOTRANS, s.m, s.n, s.k, 1.0f, s.lda, s.ldb, s.beta, s.ldc);
                if (status == MKL_JIT_ERROR || jitter == nullptr) return {};
                // MKL_NO_JIT: no kernel was generated, the call goes to the ordinary sgemm.
                std::shared_ptr<void> owner(jitter, [](void* j) { mkl_jit_destroy(j); });
                sgemm_jit_kernel_t kernel = mkl_jit_get_sgemm_ptr(jitter);
                return [owner, kernel](const float* a, const float* b, float* c) {
                    kernel(owner.get(), const_cast<float*>(a), const_cast<float*>(b), c);
                };
            }};
}

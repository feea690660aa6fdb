#pragma once
// One interface over the kernel libraries that kernel_bench compares. Every
// product is row-major: C (m x n) := op(A) (m x k) · op(B) (k x n) + beta · C,
// with op transposing its operand in place when asked (A stored k x m then).

#include <functional>
#include <string>
#include <vector>

struct GemmShape {
    int m, n, k;
    bool transpose_a, transpose_b;
    int lda, ldb, ldc;
    float beta;
};

// A product prepared for one shape (a JIT library generates its kernel here).
using Gemm = std::function<void(const float* a, const float* b, float* c)>;

struct Candidate {
    std::string name;
    // An empty Gemm when the library has no kernel for the shape.
    std::function<Gemm(const GemmShape&)> prepare;
};

// Every candidate linked into this build; the bundled OpenBLAS first, set to one thread.
std::vector<Candidate> linked_candidates();

// The bundled OpenBLAS's own thread count, for the peak measurement.
void set_openblas_threads(int threads);

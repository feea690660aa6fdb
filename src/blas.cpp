#include "blas.hpp"

#include <algorithm>
#include <climits>
#include <string>

#include "panic.hpp"
#include "shape_check.hpp"
#include "storage.hpp"

// The prototype is declared here rather than taken from a cblas.h: the bundled
// OpenBLAS prefixes every symbol (scipy_cblas_sgemm), a system CBLAS does not.
#ifndef BRENIK_BLAS_PREFIX
#define BRENIK_BLAS_PREFIX scipy_
#endif
#define BRENIK_PASTE_(prefix, name) prefix##name
#define BRENIK_PASTE(prefix, name) BRENIK_PASTE_(prefix, name)
#define BRENIK_SGEMM BRENIK_PASTE(BRENIK_BLAS_PREFIX, cblas_sgemm)

extern "C" void BRENIK_SGEMM(int order, int transpose_a, int transpose_b, int m, int n, int k,
                             float alpha, const float* a, int lda, const float* b, int ldb,
                             float beta, float* c, int ldc);

namespace {

constexpr int cblas_row_major = 101;
constexpr int cblas_no_trans = 111;
constexpr int cblas_trans = 112;

struct Shape {
    size_t rows;
    size_t cols;
};

Shape operand_shape(const Matrix& m, Transpose t) {
    return t == Transpose::yes ? Shape{m.cols, m.rows} : Shape{m.rows, m.cols};
}

std::string shape_text_of(Shape s) { return std::to_string(s.rows) + " x " + std::to_string(s.cols); }

int blas_int(size_t value, Shape a, Shape b) {
    if (value > size_t(INT_MAX))
        throw Panic("matrix product of " + shape_text_of(a) + " and " + shape_text_of(b) +
                    ": size " + std::to_string(value) + " exceeds the BLAS's 32-bit index");
    return int(value);
}

}  // namespace

void require_product_shapes(const Matrix& a, Transpose transpose_a, const Matrix& b, Transpose transpose_b) {
    Shape sa = operand_shape(a, transpose_a);
    Shape sb = operand_shape(b, transpose_b);
    if (sa.cols != sb.rows)
        throw Panic("shape mismatch in matrix product: " + shape_text_of(sa) + " times " + shape_text_of(sb));
}

void matmul_into(Matrix& c, const Matrix& a, Transpose transpose_a, const Matrix& b,
                 Transpose transpose_b) {
    require_product_shapes(a, transpose_a, b, transpose_b);
    Shape sa = operand_shape(a, transpose_a);
    Shape sb = operand_shape(b, transpose_b);
    size_t m = sa.rows, n = sb.cols, k = sa.cols;
    bool empty_sum = m == 0 || n == 0 || k == 0;  // the BLAS need not handle these
    // Row-major leading dimensions are the stored column counts.
    int bm = 0, bn = 0, bk = 0, lda = 0, ldb = 0;
    if (!empty_sum) {
        bm = blas_int(m, sa, sb), bn = blas_int(n, sa, sb), bk = blas_int(k, sa, sb);
        lda = blas_int(a.cols, sa, sb), ldb = blas_int(b.cols, sa, sb);
    }
    if (a.data.size() != a.rows * a.cols || b.data.size() != b.rows * b.cols)
        throw Panic("matrix product of " + shape_text_of(sa) + " and " + shape_text_of(sb) +
                    ": an operand does not hold rows x cols elements");
    resize_matrix(c, m, n);
    if (empty_sum) {
        std::fill(c.data.begin(), c.data.end(), 0.0f);
        return;
    }
    BRENIK_SGEMM(cblas_row_major, transpose_a == Transpose::yes ? cblas_trans : cblas_no_trans,
                 transpose_b == Transpose::yes ? cblas_trans : cblas_no_trans, bm, bn, bk, 1.0f,
                 a.data.data(), lda, b.data.data(), ldb, 0.0f, c.data.data(), bn);
}

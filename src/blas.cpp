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

Shape operand_shape(MatrixView m, Transpose t) {
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

MatrixView view_of(const Matrix& m) {
    if (m.data.size() != m.rows * m.cols)
        throw Panic("a " + std::to_string(m.rows) + " x " + std::to_string(m.cols) + " matrix holding " +
                    std::to_string(m.data.size()) + " elements cannot take part in a product");
    return {m.data.data(), m.rows, m.cols, m.cols};
}

void require_product_shapes(MatrixView a, Transpose transpose_a, MatrixView b, Transpose transpose_b) {
    Shape sa = operand_shape(a, transpose_a);
    Shape sb = operand_shape(b, transpose_b);
    if (sa.cols != sb.rows)
        throw Panic("shape mismatch in matrix product: " + shape_text_of(sa) + " times " + shape_text_of(sb));
}

namespace {

// The product's sizes as the BLAS takes them, after every check on shapes.
struct ProductSizes {
    size_t m, n;
    int bm, bn, bk, lda, ldb;
    bool empty_sum;  // an inner or outer size of 0: all zeros, no BLAS call
};

ProductSizes product_sizes(MatrixView a, Transpose transpose_a, MatrixView b, Transpose transpose_b) {
    require_product_shapes(a, transpose_a, b, transpose_b);
    Shape sa = operand_shape(a, transpose_a);
    Shape sb = operand_shape(b, transpose_b);
    ProductSizes p{sa.rows, sb.cols, 0, 0, 0, 0, 0, sa.rows == 0 || sb.cols == 0 || sa.cols == 0};
    if (!p.empty_sum) {
        p.bm = blas_int(sa.rows, sa, sb), p.bn = blas_int(sb.cols, sa, sb), p.bk = blas_int(sa.cols, sa, sb);
        p.lda = blas_int(a.row_stride, sa, sb), p.ldb = blas_int(b.row_stride, sa, sb);
    }
    return p;
}

void multiply(Matrix& c, const ProductSizes& p, MatrixView a, Transpose transpose_a, MatrixView b,
              Transpose transpose_b) {
    resize_matrix(c, p.m, p.n);
    if (p.empty_sum) {
        std::fill(c.data.begin(), c.data.end(), 0.0f);
        return;
    }
    BRENIK_SGEMM(cblas_row_major, transpose_a == Transpose::yes ? cblas_trans : cblas_no_trans,
                 transpose_b == Transpose::yes ? cblas_trans : cblas_no_trans, p.bm, p.bn, p.bk, 1.0f, a.data,
                 p.lda, b.data, p.ldb, 0.0f, c.data.data(), p.bn);
}

}  // namespace

void matmul_into(Matrix& c, MatrixView a, Transpose transpose_a, MatrixView b, Transpose transpose_b) {
    ProductSizes p = product_sizes(a, transpose_a, b, transpose_b);
    multiply(c, p, a, transpose_a, b, transpose_b);
}

void matmul_into(Matrix& c, const Matrix& a, Transpose transpose_a, const Matrix& b, Transpose transpose_b) {
    // Shapes first (they need no elements), then the operands' element counts.
    MatrixView shape_a{nullptr, a.rows, a.cols, a.cols}, shape_b{nullptr, b.rows, b.cols, b.cols};
    ProductSizes p = product_sizes(shape_a, transpose_a, shape_b, transpose_b);
    multiply(c, p, view_of(a), transpose_a, view_of(b), transpose_b);
}

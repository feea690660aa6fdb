#pragma once
// Single-precision matrix products through the linked CBLAS (cblas_sgemm).
// Transposed operands are read in place through the BLAS's transpose flags.

#include "array.hpp"

enum class Transpose { no, yes };

// The whole of m; panics when m does not hold rows x cols elements.
MatrixView view_of(const Matrix& m);

// c := op(a) · op(b), where op transposes its operand when asked. c is resized
// to the product's shape, reusing its storage when it is large enough. Panics
// naming both shapes when the inner sizes differ, and when a size does not fit
// the BLAS's 32-bit int. A product with an inner size of 0 is all zeros.
// c must not overlap a or b.
void matmul_into(Matrix& c, MatrixView a, Transpose transpose_a, MatrixView b, Transpose transpose_b);
// The same on whole matrices; an operand not holding rows x cols elements panics.
void matmul_into(Matrix& c, const Matrix& a, Transpose transpose_a, const Matrix& b, Transpose transpose_b);

// The shape check matmul_into makes before it multiplies, for a caller that
// wants the product's failure without the product.
void require_product_shapes(MatrixView a, Transpose transpose_a, MatrixView b, Transpose transpose_b);

inline Matrix matmul(const Matrix& a, Transpose transpose_a, const Matrix& b, Transpose transpose_b) {
    Matrix c;
    matmul_into(c, a, transpose_a, b, transpose_b);
    return c;
}

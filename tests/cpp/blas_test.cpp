#include "blas.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>

#include "matrix_literal.hpp"
#include "panic.hpp"

namespace {

// Plain triple loop on the transposed views; exactly representable data keeps
// every BLAS summation order exact.
Matrix reference_product(const Matrix& a, bool ta, const Matrix& b, bool tb) {
    size_t m = ta ? a.cols : a.rows, k = ta ? a.rows : a.cols, n = tb ? b.rows : b.cols;
    Matrix c(m, n);
    for (size_t i = 0; i < m; ++i)
        for (size_t j = 0; j < n; ++j)
            for (size_t p = 0; p < k; ++p)
                c.at(i, j) += (ta ? a.at(p, i) : a.at(i, p)) * (tb ? b.at(j, p) : b.at(p, j));
    return c;
}

Matrix counting(size_t rows, size_t cols, float start) {
    Matrix m(rows, cols);
    for (size_t k = 0; k < m.size(); ++k) m.data[k] = start + float(k % 7) - 3.0f;
    return m;
}

}  // namespace

TEST(Matmul, AllTransposeCombinationsMatchReference) {
    // c is m x n, the inner size k; the rows of a (m, or k when a is
    // transposed) are split into blocks: 3290 rows make twenty, the last one
    // short, in eight groups of two or three.
    struct Size {
        size_t m, k, n;
    };
    for (Size s : {Size{5, 3, 4}, Size{3290, 3, 4}, Size{5, 3290, 4}, Size{3290, 3290, 2}})
        for (Transpose ta : {Transpose::no, Transpose::yes})
            for (Transpose tb : {Transpose::no, Transpose::yes}) {
                bool a_t = ta == Transpose::yes, b_t = tb == Transpose::yes;
                Matrix a = counting(a_t ? s.k : s.m, a_t ? s.m : s.k, 0.5f);
                Matrix b = counting(b_t ? s.n : s.k, b_t ? s.k : s.n, 2.0f);
                Matrix product = matmul(a, ta, b, tb);
                EXPECT_EQ(product, reference_product(a, a_t, b, b_t)) << s.m << " " << s.k << " " << a_t << b_t;
                EXPECT_EQ(product.rows, s.m);
                EXPECT_EQ(product.cols, s.n);
            }
}

TEST(Matmul, MismatchNamesBothShapes) {
    Matrix a(2, 3), b(4, 5);
    try {
        matmul(a, Transpose::no, b, Transpose::no);
        FAIL() << "no panic";
    } catch (const Panic& e) {
        EXPECT_NE(std::string(e.what()).find("2 x 3"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("4 x 5"), std::string::npos) << e.what();
    }
    // Transposing a makes it 3 x 2: still no fit with 4 x 5, and named as used.
    EXPECT_THROW(matmul(a, Transpose::yes, b, Transpose::no), Panic);
}

TEST(Matmul, EmptyInnerSizeGivesZerosOverOldContents) {
    // dweights of a 0-row batch: (0 x 3)^T . (0 x 2) is a 3 x 2 zero matrix,
    // even when the output previously held NaN.
    Matrix c(3, 2, std::nanf(""));
    matmul_into(c, Matrix(0, 3), Transpose::yes, Matrix(0, 2), Transpose::no);
    EXPECT_EQ(c, Matrix(3, 2, 0.0f));
}

TEST(Matmul, EmptyOuterSizes) {
    EXPECT_EQ(matmul(Matrix(0, 3), Transpose::no, Matrix(3, 2), Transpose::no), Matrix(0, 2));
    EXPECT_EQ(matmul(Matrix(4, 3), Transpose::no, Matrix(3, 0), Transpose::no), Matrix(4, 0));
}

TEST(Matmul, OutputStorageIsReusedAndOverwritten) {
    Matrix a = matrix_of({{1, 2}, {3, 4}});
    Matrix c(10, 10, 7.0f);
    matmul_into(c, a, Transpose::no, a, Transpose::no);
    EXPECT_EQ(c, matrix_of({{7, 10}, {15, 22}}));
}

TEST(Matmul, SizeBeyondBlasIntPanicsBeforeTouchingData) {
    // Shapes only (8 GB each if held): the size check comes before any element
    // is read and before the output is sized.
    Matrix a, b;
    a.rows = 1;
    a.cols = size_t(INT_MAX) + 1;
    b.rows = size_t(INT_MAX) + 1;
    b.cols = 1;
    Matrix c(2, 2, 5.0f);
    try {
        matmul_into(c, a, Transpose::no, b, Transpose::no);
        FAIL() << "no panic";
    } catch (const Panic& e) {
        EXPECT_NE(std::string(e.what()).find("32-bit"), std::string::npos) << e.what();
    }
    EXPECT_EQ(c, Matrix(2, 2, 5.0f));
}

TEST(Matmul, OperandWithMissingElementsPanics) {
    Matrix a(2, 2, 1.0f);
    a.data.pop_back();
    EXPECT_THROW(matmul(a, Transpose::no, Matrix(2, 2), Transpose::no), Panic);
}

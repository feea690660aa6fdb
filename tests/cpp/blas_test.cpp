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
    // a is read as 5 x 3 (or its transpose), b as 3 x 4 (or its transpose).
    struct Case {
        Transpose ta, tb;
        size_t a_rows, a_cols, b_rows, b_cols;
    };
    for (Case c : {Case{Transpose::no, Transpose::no, 5, 3, 3, 4}, Case{Transpose::yes, Transpose::no, 3, 5, 3, 4},
                   Case{Transpose::no, Transpose::yes, 5, 3, 4, 3}, Case{Transpose::yes, Transpose::yes, 3, 5, 4, 3}}) {
        Matrix a = counting(c.a_rows, c.a_cols, 0.5f), b = counting(c.b_rows, c.b_cols, 2.0f);
        Matrix product = matmul(a, c.ta, b, c.tb);
        EXPECT_EQ(product, reference_product(a, c.ta == Transpose::yes, b, c.tb == Transpose::yes));
        EXPECT_EQ(product.rows, 5u);
        EXPECT_EQ(product.cols, 4u);
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

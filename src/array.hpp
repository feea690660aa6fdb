#pragma once
// Owned arrays of the library: every record holds its arrays by value, so
// copying a record copies its data.

#include <cstddef>
#include <cstdint>
#include <vector>

// rows x cols of 32-bit floats, row-major; rows are samples. 0 x 0 is "empty".
struct Matrix {
    size_t rows = 0;
    size_t cols = 0;
    std::vector<float> data;

    Matrix() = default;
    // Panics when rows * cols overflows; throws std::bad_alloc when it cannot be held.
    Matrix(size_t rows, size_t cols, float fill = 0.0f);

    float& at(size_t i, size_t j) { return data[i * cols + j]; }
    float at(size_t i, size_t j) const { return data[i * cols + j]; }
    float* row(size_t i) { return data.data() + i * cols; }
    const float* row(size_t i) const { return data.data() + i * cols; }
    size_t size() const { return data.size(); }
    bool operator==(const Matrix&) const = default;
};

using Vector = std::vector<float>;
using LabelVector = std::vector<int32_t>;

// rows * cols, or a Panic when the product does not fit a signed 64-bit count.
size_t checked_element_count(size_t rows, size_t cols);

// The most memory this machine can ever hand out (RAM plus swap, read once).
// Larger requests are refused as std::bad_alloc before they reach the
// allocator: the kernel would refuse them anyway, and some allocators (the
// address sanitizer's) end the process instead of throwing.
size_t memory_ceiling_bytes();

// Sum of n floats: eight running partial sums p0..p7 over blocks of eight
// (element 8k + r goes to p_r), combined as
// ((((0 + (p0 + p4)) + (p1 + p5)) + (p2 + p6)) + (p3 + p7)), then the tail of
// fewer than eight elements added one by one. Losses depend on this order.
float array_sum(const float* values, size_t n);

// The array sum of term(0), ..., term(n - 1) without storing the terms: the
// same additions in the same order as array_sum over an array holding them.
template <class Term>
float array_sum_of(size_t n, Term term) {
    float p[8] = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
    size_t blocks = n / 8;
    for (size_t k = 0; k < blocks; ++k)
        for (size_t r = 0; r < 8; ++r) p[r] += term(8 * k + r);
    float sum = 0.0f;
    sum = sum + (p[0] + p[4]);
    sum = sum + (p[1] + p[5]);
    sum = sum + (p[2] + p[6]);
    sum = sum + (p[3] + p[7]);
    for (size_t k = blocks * 8; k < n; ++k) sum += term(k);
    return sum;
}
inline float array_sum(const Vector& v) { return array_sum(v.data(), v.size()); }
inline float array_sum(const Matrix& m) { return array_sum(m.data.data(), m.data.size()); }

// A read-only row-major operand that need not own its storage: rows x cols
// floats, row i starting at data + i * row_stride (row_stride >= cols, the
// BLAS's leading dimension). A Matrix is viewed with row_stride = cols.
struct MatrixView {
    const float* data = nullptr;
    size_t rows = 0;
    size_t cols = 0;
    size_t row_stride = 0;
};

// A read-only view of caller memory with strides in elements (possibly
// negative), as handed over by the array intake before it is copied.
template <class T>
struct StridedView {
    const T* base = nullptr;  // element [0][0]
    size_t rows = 0;
    size_t cols = 1;          // 1 for one-dimensional views
    ptrdiff_t row_stride = 0;
    ptrdiff_t col_stride = 0;
};

// Copies a view element by element in logical (row-major) order.
Matrix to_owned_matrix(const StridedView<float>& view);
Vector to_owned_vector(const StridedView<float>& view);
LabelVector to_owned_labels(const StridedView<int32_t>& view);

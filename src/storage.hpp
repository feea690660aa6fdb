#pragma once
// Sizing a matrix in place, so that passes run every epoch write into storage
// they already own instead of allocating.

#include "array.hpp"
#include "shape_check.hpp"

// m becomes rows x cols, keeping its storage when that is large enough; the
// elements are to be written by the caller. Panics like the Matrix constructor
// when rows * cols overflows, std::bad_alloc when it can never be held.
inline void resize_matrix(Matrix& m, size_t rows, size_t cols) {
    size_t count = checked_element_count(rows, cols);
    require_allocatable(count);
    m.data.resize(count);
    m.rows = rows;
    m.cols = cols;
}

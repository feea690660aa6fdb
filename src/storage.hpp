#pragma once
// Sizing arrays in place, so that passes run every epoch write into storage
// they already own instead of allocating, and large arrays are filled cheaply.

#include <vector>

#include "array.hpp"
#include "shape_check.hpp"

// Asks the kernel to back the 2 MiB-aligned part of [data, data + bytes) with
// transparent huge pages, when the block is large enough to profit. The first
// touch of each page then faults once per 2 MiB instead of once per 4 KiB,
// which on arrays of hundreds of megabytes is most of the cost of filling
// them. Only a hint: values are unaffected and a refusal changes nothing.
void advise_huge_pages(void* data, size_t bytes);

// Makes v's capacity at least count without touching the new memory. When the
// storage has to grow, its elements are dropped rather than moved: every
// caller writes all of them afterwards.
template <class T>
void reserve_for_overwrite(std::vector<T>& v, size_t count) {
    if (count <= v.capacity()) return;
    std::vector<T>().swap(v);
    v.reserve(count);
    advise_huge_pages(v.data(), count * sizeof(T));
}

// m becomes rows x cols, keeping its storage when that is large enough; the
// elements are to be written by the caller. Panics like the Matrix constructor
// when rows * cols overflows, std::bad_alloc when it can never be held.
inline void resize_matrix(Matrix& m, size_t rows, size_t cols) {
    size_t count = checked_element_count(rows, cols);
    require_allocatable(count);
    reserve_for_overwrite(m.data, count);
    m.data.resize(count);
    m.rows = rows;
    m.cols = cols;
}

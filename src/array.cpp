#include "array.hpp"

#include <sys/sysinfo.h>

#include <cstdint>
#include <string>

#include "panic.hpp"
#include "shape_check.hpp"
#include "storage.hpp"

void panic_index(size_t len, size_t index) {
    throw Panic("index out of bounds: the len is " + std::to_string(len) + " but the index is " +
                std::to_string(index));
}

size_t checked_element_count(size_t rows, size_t cols) {
    size_t count = 0;
    if (__builtin_mul_overflow(rows, cols, &count) || count > size_t(INT64_MAX))
        throw Panic("capacity overflow: " + std::to_string(rows) + " x " + std::to_string(cols) +
                    " elements do not fit in memory");
    return count;
}

size_t memory_ceiling_bytes() {
    static const size_t ceiling = [] {
        struct sysinfo info;
        if (sysinfo(&info) != 0) return SIZE_MAX;
        unsigned __int128 total = (unsigned __int128)(info.totalram + info.totalswap) * info.mem_unit;
        return total > SIZE_MAX ? SIZE_MAX : size_t(total);
    }();
    return ceiling;
}

// rows * cols elements of 4 bytes, refused before allocating when they could never be held.
static size_t allocatable_element_count(size_t rows, size_t cols) {
    size_t count = checked_element_count(rows, cols);
    require_allocatable(count);
    return count;
}

Matrix::Matrix(size_t rows, size_t cols, float fill)
    : rows(rows), cols(cols), data(allocatable_element_count(rows, cols), fill) {}

float array_sum(const float* values, size_t n) {
    return array_sum_of(n, [values](size_t k) { return values[k]; });
}

template <class T>
static std::vector<T> copy_view(const StridedView<T>& view) {
    // A broadcast view (stride 0) can stand for far more elements than it holds.
    size_t count = allocatable_element_count(view.rows, view.cols);
    // Appended row by row into untouched storage: one pass over the copy.
    std::vector<T> out;
    reserve_for_overwrite(out, count);
    for (size_t i = 0; i < view.rows; ++i) {
        const T* src = view.base + ptrdiff_t(i) * view.row_stride;
        if (view.col_stride == 1) {
            out.insert(out.end(), src, src + view.cols);
        } else {
            for (size_t j = 0; j < view.cols; ++j) out.push_back(src[ptrdiff_t(j) * view.col_stride]);
        }
    }
    return out;
}

Matrix to_owned_matrix(const StridedView<float>& view) {
    Matrix m;
    m.data = copy_view(view);
    m.rows = view.rows;
    m.cols = view.cols;
    return m;
}

Vector to_owned_vector(const StridedView<float>& view) { return copy_view(view); }

LabelVector to_owned_labels(const StridedView<int32_t>& view) { return copy_view(view); }

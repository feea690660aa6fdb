#pragma once
// Checks before element-wise passes that read one stored array at the
// positions of another.

#include <new>
#include <string>

#include "array.hpp"
#include "panic.hpp"

// Panics with an index-out-of-range failure when stored is smaller than rows x cols
// in either dimension and a pass over rows x cols would reach outside it.
inline void require_covers(const Matrix& stored, size_t rows, size_t cols) {
    if (rows == 0 || cols == 0) return;  // no element is read
    if (stored.cols < cols) panic_index(stored.cols, stored.cols);
    if (stored.rows < rows) panic_index(stored.rows, stored.rows);
}

// A count too large for any vector, or for this machine's memory, is a failed
// allocation (std::bad_alloc), not the std::length_error the vector would throw.
inline void require_allocatable(size_t count) {
    if (count > Vector().max_size() || count > memory_ceiling_bytes() / sizeof(float))
        throw std::bad_alloc();
}

inline bool same_shape(const Matrix& a, const Matrix& b) {
    return a.rows == b.rows && a.cols == b.cols && a.data.size() == b.data.size();
}

inline std::string shape_text(const Matrix& m) {
    return std::to_string(m.rows) + " x " + std::to_string(m.cols);
}

// Panics naming the field when an array that is combined element by element
// with a parameter array has another shape.
inline void require_same_shape(const Matrix& field, const char* field_name, const Matrix& like,
                               const char* like_name) {
    if (!same_shape(field, like))
        throw Panic(std::string(field_name) + " is " + shape_text(field) + " but " + like_name + " is " +
                    shape_text(like));
}

inline void require_same_length(const Vector& field, const char* field_name, const Vector& like,
                                const char* like_name) {
    if (field.size() != like.size())
        throw Panic(std::string(field_name) + " has " + std::to_string(field.size()) + " elements but " +
                    like_name + " has " + std::to_string(like.size()));
}

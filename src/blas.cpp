#include "blas.hpp"

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "blas_threads.hpp"
#include "elementwise.hpp"
#include "panic.hpp"
#include "shape_check.hpp"
#include "storage.hpp"
#include "thread_pool.hpp"

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

// Blocks have at most this many rows (samples): few enough that the
// activations of a block of a small network stay in the first-level cache and
// its products in the BLAS's unpacked small-matrix kernels, enough that a
// wide layer's weights are packed for many rows.
constexpr size_t max_rows_per_block = 192;
// Rows split into a multiple of this many blocks of nearly equal size, so
// that 2 or 4 cores share them evenly.
constexpr size_t block_count_multiple = 4;
// Groups of a weight gradient: one per this many rows, at most max_groups,
// an even number when more than one. Each group's partial sum is written and
// read back once; with fewer rows per group that traffic would cost a wide
// layer more than a tenth of its products' time.
constexpr size_t rows_per_group = 384;
constexpr size_t max_groups = 16;

}  // namespace

RowBlocks row_blocks(size_t rows) {
    RowBlocks blocks;
    blocks.rows = rows;
    if (rows == 0) return blocks;
    size_t count = (rows + max_rows_per_block - 1) / max_rows_per_block;
    if (count > 1) count = (count + block_count_multiple - 1) / block_count_multiple * block_count_multiple;
    blocks.block_rows = (rows + count - 1) / count;
    blocks.count = (rows + blocks.block_rows - 1) / blocks.block_rows;
    size_t groups = std::clamp<size_t>(rows / rows_per_group, 1, max_groups);
    blocks.groups = std::min(groups > 1 ? groups & ~size_t(1) : groups, blocks.count);
    return blocks;
}

void run_blocks(double multiply_adds, size_t count, const std::function<void(size_t)>& task) {
    // The pool runs the blocks; the BLAS's own threads would only compete with
    // it. Set at every call: a caller may have changed it in between
    // (threadpoolctl does that for every BLAS in the process).
    set_blas_thread_count(1);
    if (multiply_adds >= double(1 << 20)) return parallel_for(count, task);
    for (size_t i = 0; i < count; ++i) task(i);
}

void multiply_block(MatrixView a, Transpose transpose_a, MatrixView b, float beta, float* c, size_t c_stride) {
    bool t = transpose_a == Transpose::yes;
    int m = int(t ? a.cols : a.rows), k = int(t ? a.rows : a.cols);
    BRENIK_SGEMM(cblas_row_major, t ? cblas_trans : cblas_no_trans, cblas_no_trans, m, int(b.cols), k, 1.0f,
                 a.data, int(a.row_stride), b.data, int(b.row_stride), beta, c, int(c_stride));
}

void transpose_into(Matrix& transposed, MatrixView m) {
    resize_matrix(transposed, m.cols, m.rows);
    constexpr size_t tile = 32;  // a tile of both matrices stays in cache
    size_t rows_per_task = std::max<size_t>(tile, (size_t(1) << 16) / std::max<size_t>(m.cols, 1) / tile * tile);
    parallel_chunks(m.rows, rows_per_task, [&](size_t first, size_t count) {
        for (size_t i0 = first; i0 < first + count; i0 += tile)
            for (size_t j0 = 0; j0 < m.cols; j0 += tile)
                for (size_t i = i0; i < std::min(i0 + tile, first + count); ++i)
                    for (size_t j = j0; j < std::min(j0 + tile, m.cols); ++j)
                        transposed.data[j * m.rows + i] = m.data[i * m.row_stride + j];
    });
}

void add_group_sums(float* c, const float* const* partials, size_t partial_count, size_t first, size_t count) {
    constexpr size_t chunk = 4096;  // c's chunk stays in cache across the partials
    for (size_t begin = first; begin < first + count; begin += chunk) {
        size_t n = std::min(chunk, first + count - begin);
        for (size_t g = 0; g < partial_count; ++g) elementwise().add(partials[g] + begin, c + begin, n);
    }
}

namespace {

// What products keep from one to the next on this thread (the sums of the
// weight gradients' groups, a transposed operand), until the call that made
// them ends (ProductScratchScope).
struct ProductScratch {
    std::vector<Matrix> partials;
    Matrix transposed_b;
};

ProductScratch& product_scratch() {
    thread_local ProductScratch scratch;
    return scratch;
}

}  // namespace

void release_product_scratch() { product_scratch() = ProductScratch(); }

namespace {

// The product's sizes as the BLAS takes them, after every check on shapes.
struct ProductSizes {
    size_t m, n, k;
    bool empty_sum;  // an inner or outer size of 0: all zeros, no BLAS call
};

ProductSizes product_sizes(MatrixView a, Transpose transpose_a, MatrixView b, Transpose transpose_b) {
    require_product_shapes(a, transpose_a, b, transpose_b);
    Shape sa = operand_shape(a, transpose_a);
    Shape sb = operand_shape(b, transpose_b);
    ProductSizes p{sa.rows, sb.cols, sa.cols, sa.rows == 0 || sb.cols == 0 || sa.cols == 0};
    if (!p.empty_sum)
        for (size_t size : {sa.rows, sb.cols, sa.cols, a.row_stride, b.row_stride}) blas_int(size, sa, sb);
    return p;
}

double multiply_adds(const ProductSizes& p) { return double(p.m) * double(p.n) * double(p.k); }

// c := a · b, a's row blocks giving c's.
void multiply_row_blocks(Matrix& c, const ProductSizes& p, MatrixView a, MatrixView b) {
    RowBlocks blocks = row_blocks(a.rows);
    run_blocks(multiply_adds(p), blocks.count, [&](size_t block) {
        size_t first = block_first_row(blocks, block), count = block_row_count(blocks, block);
        multiply_block(rows_of(a, first, count), Transpose::no, b, 0.0f, c.row(first), c.cols);
    });
}

// c := a^T · b over the blocks of the samples (a's and b's rows), group by group.
void multiply_grouped_blocks(Matrix& c, const ProductSizes& p, MatrixView a, MatrixView b) {
    RowBlocks blocks = row_blocks(a.rows);
    std::vector<Matrix>& partial_storage = product_scratch().partials;  // groups 1 .. groups - 1
    partial_storage.resize(std::max(partial_storage.size(), blocks.groups));
    std::vector<float*> sums(blocks.groups, c.data.data());
    for (size_t g = 1; g < blocks.groups; ++g) {
        resize_matrix(partial_storage[g], c.rows, c.cols);
        sums[g] = partial_storage[g].data.data();
    }
    run_blocks(multiply_adds(p), blocks.groups, [&](size_t group) {
        float* sum = sums[group];
        for (size_t block = group_first_block(blocks, group); block < group_first_block(blocks, group + 1); ++block) {
            size_t first = block_first_row(blocks, block), count = block_row_count(blocks, block);
            float beta = block == group_first_block(blocks, group) ? 0.0f : 1.0f;
            multiply_block(rows_of(a, first, count), Transpose::yes, rows_of(b, first, count), beta, sum, c.cols);
        }
    });
    std::vector<const float*> partials(sums.begin() + 1, sums.end());  // an inner size > 0: a group at least
    add_group_sums(c.data.data(), partials.data(), partials.size(), 0, c.size());
}

void multiply(Matrix& c, const ProductSizes& p, MatrixView a, Transpose transpose_a, MatrixView b,
              Transpose transpose_b) {
    resize_matrix(c, p.m, p.n);
    if (p.empty_sum) {
        std::fill(c.data.begin(), c.data.end(), 0.0f);
        return;
    }
    Matrix& transposed_b = product_scratch().transposed_b;
    if (transpose_b == Transpose::yes) {
        transpose_into(transposed_b, b);
        b = view_of(transposed_b);
    }
    if (transpose_a == Transpose::yes)
        multiply_grouped_blocks(c, p, a, b);
    else
        multiply_row_blocks(c, p, a, b);
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

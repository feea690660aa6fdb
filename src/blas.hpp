#pragma once
// Single-precision matrix products through the linked CBLAS (cblas_sgemm), in
// an order fixed by the operands' shapes alone, so that results never depend
// on the number of threads.
//
// The order. Rows of `a` are samples: they are split into blocks (row_blocks
// below), and every block is one single-threaded sgemm, whatever thread runs
// it.
// - a not transposed (a layer's forward product, an input gradient): block b
//   of a's rows gives the same rows of c.
// - a transposed (a weight gradient, summed over the samples): the blocks are
//   slices of the inner dimension. Consecutive blocks form `groups`; each
//   group sums its blocks' products in block order (the first written, the
//   others accumulated with beta = 1), and c is group 0's sum plus group 1's,
//   plus group 2's, and so on, element by element.
// - b transposed: b is first copied into a row-major transpose, so sgemm only
//   ever reads b as it lies.
// A training pass that runs its layers block by block (model/row_blocks)
// makes exactly these calls, so its products equal these.

#include <functional>

#include "array.hpp"

enum class Transpose { no, yes };

// The whole of m; panics when m does not hold rows x cols elements.
MatrixView view_of(const Matrix& m);

// Rows first .. first + count - 1 of m.
inline MatrixView rows_of(MatrixView m, size_t first, size_t count) {
    return {m.data + first * m.row_stride, count, m.cols, m.row_stride};
}

// How `rows` samples split into blocks and the blocks into groups; depends on
// the row count only. Blocks: at most 192 rows, a multiple of four of them
// (or one) of nearly equal size. Groups: one per 384 rows, an even number
// when more than one, at most sixteen.
struct RowBlocks {
    size_t rows = 0;
    size_t block_rows = 0;  // rows of every block but the last
    size_t count = 0;       // blocks
    size_t groups = 0;      // groups of consecutive blocks
};

RowBlocks row_blocks(size_t rows);

inline size_t block_first_row(const RowBlocks& blocks, size_t block) { return block * blocks.block_rows; }
inline size_t block_row_count(const RowBlocks& blocks, size_t block) {
    size_t first = block_first_row(blocks, block);
    return blocks.rows - first < blocks.block_rows ? blocks.rows - first : blocks.block_rows;
}
// Group g holds blocks group_first_block(g) .. group_first_block(g + 1) - 1;
// larger groups come first.
inline size_t group_first_block(const RowBlocks& blocks, size_t group) {
    return (group * blocks.count + blocks.groups - 1) / blocks.groups;
}

// c := op(a) · op(b), where op transposes its operand when asked, in the order
// above. c is resized to the product's shape, reusing its storage when it is
// large enough. Panics naming both shapes when the inner sizes differ, and
// when a size does not fit the BLAS's 32-bit int. A product with an inner
// size of 0 is all zeros. c must not overlap a or b.
void matmul_into(Matrix& c, MatrixView a, Transpose transpose_a, MatrixView b, Transpose transpose_b);
// The same on whole matrices; an operand not holding rows x cols elements panics.
void matmul_into(Matrix& c, const Matrix& a, Transpose transpose_a, const Matrix& b, Transpose transpose_b);

// The shape check matmul_into makes before it multiplies, for a caller that
// wants the product's failure without the product.
void require_product_shapes(MatrixView a, Transpose transpose_a, MatrixView b, Transpose transpose_b);

// Runs task(0) .. task(count - 1), each a block's work, on the pool when the
// whole is worth it, else here in order: below about 2^20 multiply-adds (some
// 10 us on one core) handing it over costs more than it saves. Which thread
// runs a block never changes its result.
void run_blocks(double multiply_adds, size_t count, const std::function<void(size_t)>& task);

// One block's product on the calling thread: c := op(a) · b + beta · c with
// beta 0 or 1, c's row i at c + i * c_stride. The caller has checked the
// shapes and sizes (matmul_into's checks); no size is 0. For a task of
// run_blocks, which keeps the BLAS on one thread.
void multiply_block(MatrixView a, Transpose transpose_a, MatrixView b, float beta, float* c, size_t c_stride);

// transposed := the transpose of m (m.cols x m.rows), reusing its storage.
void transpose_into(Matrix& transposed, MatrixView m);

// How the groups' sums of a weight gradient combine, for elements first ..
// first + count - 1: c[k] := ((c[k] + partials[0][k]) + partials[1][k]) + ...
// with group 0's sum in c and the others' in partials.
void add_group_sums(float* c, const float* const* partials, size_t partial_count, size_t first, size_t count);

inline Matrix matmul(const Matrix& a, Transpose transpose_a, const Matrix& b, Transpose transpose_b) {
    Matrix c;
    matmul_into(c, a, transpose_a, b, transpose_b);
    return c;
}

// Products keep scratch storage on their thread from one to the next (every
// epoch makes the same ones); a training or evaluation call frees it when it
// ends, so nothing of a large model stays allocated between calls.
void release_product_scratch();
struct ProductScratchScope {
    ProductScratchScope() = default;
    ProductScratchScope(const ProductScratchScope&) = delete;
    ProductScratchScope& operator=(const ProductScratchScope&) = delete;
    ~ProductScratchScope() { release_product_scratch(); }
};

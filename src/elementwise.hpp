#pragma once
// The element-wise passes of the layers, losses and optimisers, compiled once
// for every x86-64 level worth having (the baseline, x86-64-v3 with AVX2,
// x86-64-v4 with AVX-512) and chosen at run time for the CPU. Every variant
// does the same operations per element, each rounded once (no contraction,
// no reordering of any sum), so all give the same bits; only the vector
// width differs. Loops that sum along rows stay in row order and are
// vectorised across columns only.
//
// Matrices are row-major: rows x cols floats, row i at m + i * cols unless a
// stride is given.

#include <cstddef>

// The scalars of one adam step (see adam_update).
struct AdamStep {
    float beta_1, one_minus_beta_1, beta_1_correction;  // correction: 1 - beta_1^t
    float beta_2, one_minus_beta_2, beta_2_correction;
    float negative_lr;
    float epsilon;
};

// The scalars of one tf_adam step (see tf_adam_update).
struct TfAdamStep {
    float beta_1, one_minus_beta_1;
    float beta_2, one_minus_beta_2;
    float lr_t;
    float epsilon;
};

struct ElementwiseKernels {
    const char* name;  // "x86-64", "x86-64-v3", "x86-64-v4"

    // m[i][j] := m[i][j] + biases[j]
    void (*add_bias)(float* m, size_t rows, size_t cols, const float* biases);
    // m[i][j] := relu(m[i][j] + biases[j])
    void (*add_bias_relu)(float* m, size_t rows, size_t cols, const float* biases);
    // z[i][j] := z[i][j] + biases[j], then y[i][j] := relu(z[i][j])
    void (*add_bias_relu_copy)(float* z, float* y, size_t rows, size_t cols, const float* biases);
    // y[k] := relu(x[k]) for k < n
    void (*relu)(const float* x, float* y, size_t n);
    // d[i][j] := relu_gradient(x[i][j], d[i][j]); row i of x at x + i * x_stride
    void (*relu_gradient)(const float* x, size_t x_stride, float* d, size_t rows, size_t cols);

    // sums[j] := sums[j] + d[i][j], row after row; row i of d at d + i * d_stride
    void (*add_column_sums)(const float* d, size_t d_stride, size_t rows, size_t cols, float* sums);
    // d[i][j] := relu_gradient(x[i][j], d[i][j]), then sums[j] := sums[j] + d[i][j], row after row
    void (*relu_gradient_column_sums)(const float* x, size_t x_stride, float* d, size_t rows, size_t cols,
                                      float* sums);

    // Row by row: m := the first maximum, e[i][j] := x[i][j] - m, e[i][j] :=
    // expf(e[i][j]) (the C library's, one element at a time) summed from 0 in
    // order into s, e[i][j] := e[i][j] / s.
    void (*softmax)(const float* x, float* e, size_t rows, size_t cols);
    // y[k] := x[k] / divisor for k < n (y may be x)
    void (*divide)(const float* x, float divisor, float* y, size_t n);
    // g[i][j] := ((y[i] - out[i][j]) * -2) / columns / rows_divisor
    void (*mean_squared_error_gradient)(const float* out, const float* y, size_t rows, size_t cols, float columns,
                                        float rows_divisor, float* g);

    // y[k] := y[k] + x[k] for k < n
    void (*add)(const float* x, float* y, size_t n);
    // y[k] := x[k] * mask[k] for k < n
    void (*multiply)(const float* x, const float* mask, float* y, size_t n);
    // d[i][j] := d[i][j] * mask[i][j]; row i of mask at mask + i * mask_stride
    void (*multiply_rows)(float* d, size_t rows, size_t cols, const float* mask, size_t mask_stride);

    // The three update rules over n parameters, element by element.
    void (*adam)(const AdamStep& step, size_t n, const float* grads, float* momentums, float* cache, float* params);
    void (*tf_adam)(const TfAdamStep& step, size_t n, const float* grads, float* momentums, float* cache,
                    float* params);
    // params[k] := (grads[k] * negative_lr) + params[k]
    void (*sgd)(float negative_lr, size_t n, const float* grads, float* params);
};

// The widest variant this CPU runs.
const ElementwiseKernels& elementwise();

// Every variant this CPU runs, the baseline first: for tests and benchmarks.
struct ElementwiseVariants {
    const ElementwiseKernels* variants[3];
    size_t count;
};
ElementwiseVariants supported_elementwise_variants();

// Makes elementwise() return `variant` from now on: for benchmarks.
void use_elementwise_variant(const ElementwiseKernels& variant);

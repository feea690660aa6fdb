// The element-wise loops with AVX-512 (compiled with -march=x86-64-v4).
#if defined(__x86_64__)
#define BRENIK_VARIANT elementwise_x86_64_v4
#define BRENIK_VARIANT_NAME "x86-64-v4"
#include "elementwise/kernels.inc"
#endif

// The element-wise loops with AVX2 (compiled with -march=x86-64-v3).
#if defined(__x86_64__)
#define BRENIK_VARIANT elementwise_x86_64_v3
#define BRENIK_VARIANT_NAME "x86-64-v3"
#include "elementwise/kernels.inc"
#endif

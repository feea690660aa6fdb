// The element-wise loops for any x86-64 (or any other) CPU.
#define BRENIK_VARIANT elementwise_baseline
#define BRENIK_VARIANT_NAME "x86-64"
#include "elementwise/kernels.inc"

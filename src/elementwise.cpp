#include "elementwise.hpp"

#include <atomic>

namespace elementwise_baseline {
extern const ElementwiseKernels kernels;
}
#if defined(__x86_64__)
namespace elementwise_x86_64_v3 {
extern const ElementwiseKernels kernels;
}
namespace elementwise_x86_64_v4 {
extern const ElementwiseKernels kernels;
}
#endif

namespace {

// The features of x86-64-v3 and -v4 that the compiled loops can use (they use
// none of v3's LZCNT, MOVBE or F16C, which not every compiler can test);
// the checks include the operating system's support for the wider registers.
bool runs_x86_64_v3() {
#if defined(__x86_64__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx") && __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
           __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("fma");
#else
    return false;
#endif
}

bool runs_x86_64_v4() {
#if defined(__x86_64__)
    return runs_x86_64_v3() && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512cd") && __builtin_cpu_supports("avx512dq") &&
           __builtin_cpu_supports("avx512vl");
#else
    return false;
#endif
}

std::atomic<const ElementwiseKernels*> chosen{nullptr};

}  // namespace

ElementwiseVariants supported_elementwise_variants() {
    ElementwiseVariants supported{{&elementwise_baseline::kernels, nullptr, nullptr}, 1};
#if defined(__x86_64__)
    if (runs_x86_64_v3()) supported.variants[supported.count++] = &elementwise_x86_64_v3::kernels;
    if (runs_x86_64_v4()) supported.variants[supported.count++] = &elementwise_x86_64_v4::kernels;
#endif
    return supported;
}

const ElementwiseKernels& elementwise() {
    const ElementwiseKernels* kernels = chosen.load(std::memory_order_acquire);
    if (kernels == nullptr) {
        ElementwiseVariants supported = supported_elementwise_variants();
        kernels = supported.variants[supported.count - 1];
        chosen.store(kernels, std::memory_order_release);
    }
    return *kernels;
}

void use_elementwise_variant(const ElementwiseKernels& variant) { chosen.store(&variant, std::memory_order_release); }

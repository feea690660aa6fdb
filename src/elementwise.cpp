#include "elementwise.hpp"

#include <atomic>

#include "cpu_level.hpp"

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

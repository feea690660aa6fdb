#include "cpu_level.hpp"

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

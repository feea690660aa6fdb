#include "random.hpp"

#include <pthread.h>
#include <sys/random.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <string>

#include "panic.hpp"

namespace {

// Bumped in every forked child; a thread whose generator was seeded under an
// older value seeds it again.
std::atomic<uint64_t> fork_generation{0};

void count_fork() { fork_generation.fetch_add(1, std::memory_order_relaxed); }

void fill_from_os(void* buffer, size_t size) {
    auto* bytes = static_cast<unsigned char*>(buffer);
    while (size > 0) {
        ssize_t got = getrandom(bytes, size, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            throw Panic(std::string("could not seed the random generator: getrandom failed: ") +
                        std::strerror(errno));
        }
        bytes += got;
        size -= size_t(got);
    }
}

void seed_from_os(ThreadGenerator& g) {
    static const bool fork_hook = (pthread_atfork(nullptr, nullptr, count_fork), true);
    (void)fork_hook;
    fill_from_os(g.s, sizeof g.s);
    if ((g.s[0] | g.s[1] | g.s[2] | g.s[3]) == 0) g.s[0] = 1;  // the one state with no successor
}

uint64_t next_xorshift128plus(NormalSampler& sampler) {
    uint64_t s1 = sampler.state[0];
    uint64_t s0 = sampler.state[1];
    sampler.state[0] = s0;
    s1 ^= s1 << 23;
    sampler.state[1] = s1 ^ s0 ^ (s1 >> 17) ^ (s0 >> 26);
    return sampler.state[1] + s0;
}

// Marsaglia and Tsang's ziggurat for f(x) = exp(-x^2 / 2): 128 layers of equal
// area v. Layer 0 is the base rectangle [0, r] plus the tail beyond r, given the
// pseudo-width v / f(r); layer i >= 1 spans [0, x[i]] between heights f[i] and
// f[i + 1]. x[128] = 0 closes the top.
constexpr int zig_layers = 128;
constexpr double zig_r = 3.442619855899;
constexpr double zig_v = 9.91256303526217e-3;

struct Ziggurat {
    double x[zig_layers + 1];
    double f[zig_layers + 1];
};

Ziggurat build_ziggurat() {
    Ziggurat z;
    double fr = std::exp(-0.5 * zig_r * zig_r);
    z.x[0] = zig_v / fr;
    z.x[1] = zig_r;
    for (int i = 2; i < zig_layers; ++i)
        z.x[i] = std::sqrt(-2.0 * std::log(zig_v / z.x[i - 1] + std::exp(-0.5 * z.x[i - 1] * z.x[i - 1])));
    z.x[zig_layers] = 0.0;
    for (int i = 0; i <= zig_layers; ++i) z.f[i] = std::exp(-0.5 * z.x[i] * z.x[i]);
    return z;
}

const Ziggurat ziggurat = build_ziggurat();

// Uniform on (0, 1], safe to take the logarithm of.
double uniform53_open_zero(uint64_t bits) { return double((bits >> 11) + 1) * 0x1.0p-53; }

// Marsaglia's tail method beyond r.
double normal_tail(NormalSampler& sampler, bool negative) {
    for (;;) {
        double x = -std::log(uniform53_open_zero(next_xorshift128plus(sampler))) / zig_r;
        double y = -std::log(uniform53_open_zero(next_xorshift128plus(sampler)));
        if (y + y >= x * x) return negative ? -(zig_r + x) : zig_r + x;
    }
}

}  // namespace

ThreadGenerator& thread_generator() {
    thread_local ThreadGenerator generator;
    thread_local uint64_t seeded_in = UINT64_MAX;  // fork generation of the seed; none yet
    uint64_t now = fork_generation.load(std::memory_order_relaxed);
    if (seeded_in != now) {
        seed_from_os(generator);
        seeded_in = now;
    }
    return generator;
}

NormalSampler normal_sampler_from_thread() {
    uint64_t s = next_u64(thread_generator());
    return NormalSampler{{s - 1, s + 1}};
}

double next_standard_normal(NormalSampler& sampler) {
    for (;;) {
        // One draw gives both the point (top 53 bits) and the layer (bits 4..10;
        // the lowest bits of xorshift128+ are its weakest).
        uint64_t bits = next_xorshift128plus(sampler);
        int layer = int((bits >> 4) & (zig_layers - 1));
        double u = 2.0 * uniform53(bits) - 1.0;
        double x = u * ziggurat.x[layer];
        if (std::fabs(x) < ziggurat.x[layer + 1]) return x;  // inside the layer's core rectangle
        if (layer == 0) return normal_tail(sampler, u < 0.0);
        double y = ziggurat.f[layer] +
                   uniform53(next_xorshift128plus(sampler)) * (ziggurat.f[layer + 1] - ziggurat.f[layer]);
        if (y < std::exp(-0.5 * x * x)) return x;  // under the curve in the wedge
    }
}

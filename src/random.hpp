#pragma once
// Random numbers. Every thread has one generator, seeded from the operating
// system; weight initialisation and dropout draw from it.

#include <cstdint>

// xoshiro256++ state. Fast, passes BigCrush, 2^256 - 1 period.
struct ThreadGenerator {
    uint64_t s[4];
};

// This thread's generator: seeded with getrandom on first use in a thread, and
// again in a forked child so that parent and child never share a stream.
ThreadGenerator& thread_generator();

inline uint64_t next_u64(ThreadGenerator& g) {
    uint64_t* s = g.s;
    uint64_t sum = s[0] + s[3];
    uint64_t result = ((sum << 23) | (sum >> 41)) + s[0];
    uint64_t t = s[1] << 17;
    s[2] ^= s[0];
    s[3] ^= s[1];
    s[1] ^= s[2];
    s[0] ^= s[3];
    s[2] ^= t;
    s[3] = (s[3] << 45) | (s[3] >> 19);
    return result;
}

// Uniform on [0, 1) from the top 53 bits: every multiple of 2^-53 equally likely.
inline double uniform53(uint64_t bits) { return double(bits >> 11) * 0x1.0p-53; }

// One Bernoulli(p) draw for p in [0, 1]: true with probability p (exact to 53
// bits). p of exactly 0 or 1 decides without drawing.
inline bool bernoulli(ThreadGenerator& g, double p) {
    if (p == 0.0) return false;
    if (p == 1.0) return true;
    return uniform53(next_u64(g)) < p;
}

// Standard normal deviates for one initialisation: a xorshift128+ stream whose
// two state words are s - 1 and s + 1 for one value s of the thread generator,
// turned into deviates by a 128-layer ziggurat.
struct NormalSampler {
    uint64_t state[2];
};

NormalSampler normal_sampler_from_thread();
double next_standard_normal(NormalSampler& sampler);

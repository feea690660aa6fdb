#include "random.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

double normal_cdf(double x) { return 0.5 * std::erfc(-x / std::sqrt(2.0)); }

}  // namespace

TEST(StandardNormal, MeanVarianceAndTail) {
    NormalSampler sampler = normal_sampler_from_thread();
    const int n = 1000000;
    double sum = 0.0, sum_sq = 0.0;
    int beyond_r = 0;  // the ziggurat's tail starts at 3.4426
    for (int i = 0; i < n; ++i) {
        double x = next_standard_normal(sampler);
        sum += x;
        sum_sq += x * x;
        if (std::fabs(x) > 3.442619855899) ++beyond_r;
    }
    double mean = sum / n, variance = sum_sq / n - mean * mean;
    // Five standard errors each.
    EXPECT_NEAR(mean, 0.0, 5.0 / std::sqrt(double(n)));
    EXPECT_NEAR(variance, 1.0, 5.0 * std::sqrt(2.0 / n));
    double tail_p = 2.0 * (1.0 - normal_cdf(3.442619855899));
    EXPECT_NEAR(beyond_r, n * tail_p, 5.0 * std::sqrt(n * tail_p));
}

TEST(StandardNormal, HistogramFitsTheNormalCdf) {
    // Chi-square over 64 bins on [-4, 4] plus both tails: catches a wrong
    // wedge or layer table, which mean and variance alone can miss.
    NormalSampler sampler = normal_sampler_from_thread();
    const int n = 1000000, bins = 64;
    std::vector<int> counts(bins + 2, 0);
    for (int i = 0; i < n; ++i) {
        double x = next_standard_normal(sampler);
        int b = x < -4.0 ? 0 : x >= 4.0 ? bins + 1 : 1 + int((x + 4.0) / 8.0 * bins);
        counts[size_t(b)]++;
    }
    double chi_square = 0.0;
    for (int b = 0; b < bins + 2; ++b) {
        double lo = b == 0 ? -INFINITY : -4.0 + 8.0 * (b - 1) / bins;
        double hi = b == bins + 1 ? INFINITY : -4.0 + 8.0 * b / bins;
        double expected = n * (normal_cdf(hi) - normal_cdf(lo));
        chi_square += (counts[size_t(b)] - expected) * (counts[size_t(b)] - expected) / expected;
    }
    // 65 degrees of freedom: mean 65, standard deviation about 11.4.
    EXPECT_LT(chi_square, 140.0);
}

TEST(Bernoulli, ExactProbabilitiesDrawNothing) {
    ThreadGenerator& g = thread_generator();
    ThreadGenerator before = g;
    EXPECT_FALSE(bernoulli(g, 0.0));
    EXPECT_TRUE(bernoulli(g, 1.0));
    EXPECT_EQ(std::memcmp(&before, &g, sizeof g), 0);
}

TEST(Bernoulli, FrequencyMatchesProbability) {
    ThreadGenerator& g = thread_generator();
    for (double p : {0.5, 0.1, 0.999}) {
        const int n = 200000;
        int hits = 0;
        for (int i = 0; i < n; ++i) hits += bernoulli(g, p);
        EXPECT_NEAR(hits, n * p, 5.0 * std::sqrt(n * p * (1 - p))) << "p=" << p;
    }
}

TEST(ThreadGenerator, ForkedChildGetsItsOwnStream) {
    next_u64(thread_generator());  // seeded before the fork
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        uint64_t value = next_u64(thread_generator());
        ssize_t written = write(fds[1], &value, sizeof value);
        _exit(written == sizeof value ? 0 : 1);
    }
    uint64_t from_child = 0;
    ASSERT_EQ(read(fds[0], &from_child, sizeof from_child), ssize_t(sizeof from_child));
    int status = 0;
    waitpid(child, &status, 0);
    close(fds[0]);
    close(fds[1]);
    EXPECT_NE(from_child, next_u64(thread_generator()));
}

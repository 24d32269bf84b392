#pragma once
// Tuned code against a plain version of the same computation written out in the
// test, over random inputs, bit for bit: a fast path may reorder memory access,
// never arithmetic.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <type_traits>
#include <vector>

namespace velmora_test {

inline std::vector<unsigned char> RandomBytes(size_t n, std::mt19937& rng, int lo = 0, int hi = 255)
{
    std::uniform_int_distribution<int> byte(lo, hi);
    std::vector<unsigned char> v(n);
    for (auto& p : v)
        p = static_cast<unsigned char>(byte(rng));
    return v;
}

// Standard normal values, or uniform ones in [lo, hi) when lo < hi.
inline std::vector<double> RandomValues(size_t n, std::mt19937& rng, double lo = 0, double hi = 0)
{
    std::normal_distribution<double> normal;
    std::uniform_real_distribution<double> uniform(lo, lo < hi ? hi : lo + 1);
    std::vector<double> v(n);
    for (double& x : v)
        x = lo < hi ? uniform(rng) : normal(rng);
    return v;
}

template <class T>
bool Same(const std::vector<T>& a, const std::vector<T>& b)
{
    if constexpr (std::is_floating_point_v<T>)
        return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0;
    else
        return a == b;
}

template <class T>
bool Same(const T& a, const T& b)
{
    if constexpr (std::is_floating_point_v<T>)
        return std::memcmp(&a, &b, sizeof(T)) == 0;
    else
        return a == b;
}

// make(rng, trial) builds one input; fast(input) and naive(input) must agree.
template <class Make, class Fast, class Naive>
void ExpectSameOnRandomCases(int cases, unsigned seed, Make make, Fast fast, Naive naive)
{
    std::mt19937 rng(seed);
    for (int trial = 0; trial < cases; ++trial) {
        const auto input = make(rng, trial);
        ASSERT_TRUE(Same(fast(input), naive(input))) << "random case " << trial << " (seed " << seed << ")";
    }
}

} // namespace velmora_test

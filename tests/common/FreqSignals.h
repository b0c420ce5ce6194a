// Test signals and the untouched frame stream shared by the spectral tests.
#pragma once

#include "FFT.h"

#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

namespace spectraltest {

constexpr int kFrame = 8192;
constexpr int kHop = 1024;
constexpr int kLatency = kFrame - kHop;  // 7168

// A few partials with a slow envelope and some noise, about +-amplitude.
inline std::vector<int32_t> Music(int n, unsigned seed, double amplitude)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> phase(0.0, 2.0 * std::numbers::pi);
    std::normal_distribution<double> noise(0.0, 0.02);
    const double periods[] = {401.3, 97.7, 33.1, 11.9, 5.3};
    const double amps[] = {0.4, 0.25, 0.15, 0.1, 0.05};
    double ph[5];
    for (double& p : ph) p = phase(rng);
    std::vector<int32_t> v(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        double s = 0.0;
        for (int k = 0; k < 5; ++k) s += amps[k] * std::sin(2.0 * std::numbers::pi * i / periods[k] + ph[k]);
        s *= 0.6 + 0.4 * std::sin(2.0 * std::numbers::pi * i / 30011.0);
        v[static_cast<size_t>(i)] = static_cast<int32_t>(std::lround((s + noise(rng)) * amplitude));
    }
    return v;
}

inline std::vector<int32_t> Scaled(const std::vector<int32_t>& x, double f)
{
    std::vector<int32_t> y(x.size());
    for (size_t i = 0; i < x.size(); ++i) y[i] = static_cast<int32_t>(std::lround(x[i] * f));
    return y;
}

// x through a frame stream whose spectra are left alone.
inline std::vector<int32_t> Untouched(const std::vector<int32_t>& x, FrameStream::WindowAngle angle)
{
    FrameStream s;
    std::vector<int32_t> y(x.size());
    if (s.Configure(kFrame, 8, 1, angle) != 0) return {};
    s.Run(x.data(), x.data(), y.data(), nullptr, static_cast<int>(x.size()), [](float*, float*, int) {});
    return y;
}

} // namespace spectraltest

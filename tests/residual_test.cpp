// What a frame's peaks leave, by band: white noise at its level in every band (the mean of
// many frames within 1 dB), and a loud tone in none, its band at the noise's level.
#include "analysis/residual.hpp"

#include <cmath>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "model/noise.hpp"

namespace {

constexpr double kPi = 3.14159265358979323846;

TEST(Residual, WhiteNoiseAtItsLevelAndATonesLobeLeftOut) {
  const std::size_t L = 3309;
  const double rate = 44100, sigma = 0.05;
  zarn::FrameTransform t(L, rate);
  zarn::PeakFinder peaks(t, rate, 1e-6);
  const std::vector<double>& edges = zarn::critical_band_edges();
  zarn::Residual residual(t, rate, edges);
  std::mt19937_64 rng(5);
  std::normal_distribution<double> noise(0, sigma);
  for (const double tone : {0.0, 0.5}) {
    SCOPED_TRACE(tone);
    std::vector<double> mean(25, 0.0), band(25);
    const int frames = 200;
    for (int f = 0; f < frames; ++f) {
      t.run([&](std::size_t n) { return noise(rng) + tone * std::sin(2 * kPi * 1000 * static_cast<double>(n) / rate + f); });
      peaks.find(t);
      residual.measure(peaks, band.data());
      for (std::size_t b = 0; b < 25; ++b) mean[b] += band[b] / frames;
    }
    for (std::size_t b = 0; b < 25; ++b) {
      const double expected = sigma * sigma * (edges[b + 1] - edges[b]) / (rate / 2);
      EXPECT_NEAR(10 * std::log10(mean[b] / expected), 0, 1.0) << b;
    }
  }
}

}  // namespace

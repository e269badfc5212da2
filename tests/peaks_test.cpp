// The peaks of a frame: sines found at their frequency and amplitude, neighbours a resolution
// apart told apart, quiet ones and noise left out; and the selection behind the noise's quartile.
#include "analysis/peaks.hpp"

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include <gtest/gtest.h>

namespace {

constexpr double kPi = 3.14159265358979323846;

// The peaks of one frame of 44.1 kHz whose samples are sample(t), t in seconds from its centre.
template <typename Sample>
std::vector<zarn::Peak> peaks_of(Sample sample, double floor_db = -90) {
  const std::size_t L = 3309;  // 40 Hz apart at 44.1 kHz
  zarn::FrameTransform t(L, 44100);
  zarn::PeakFinder finder(t, 44100, std::pow(10.0, floor_db / 20));
  t.run([&](std::size_t n) { return sample((static_cast<double>(n) - static_cast<double>(L / 2)) / 44100); });
  return finder.find(t);
}

TEST(Peaks, SinesAtTheirFrequencyAndAmplitude) {
  const auto one = peaks_of([](double t) { return 0.5 * std::sin(2 * kPi * 1234.5 * t); });
  ASSERT_EQ(one.size(), 1u);
  EXPECT_NEAR(one[0].freq, 1234.5, 0.01);
  EXPECT_NEAR(20 * std::log10(one[0].amp / 0.5), 0, 0.02);
  EXPECT_NEAR(one[0].offset, 0, 1e-6);
  // Two a resolution apart, the second 14 dB down: each on the other's first null.
  const auto two = peaks_of([](double t) { return 0.5 * std::sin(2 * kPi * 1000 * t) + 0.1 * std::sin(2 * kPi * 1040 * t + 1); });
  ASSERT_EQ(two.size(), 2u);
  EXPECT_NEAR(two[0].freq, 1000, 0.01);
  EXPECT_NEAR(two[1].freq, 1040, 0.2);
  EXPECT_NEAR(20 * std::log10(two[0].amp / 0.5), 0, 0.2);
  EXPECT_NEAR(20 * std::log10(two[1].amp / 0.1), 0, 0.5);
  // Under the floor, nothing; noise alone, nothing.
  EXPECT_TRUE(peaks_of([](double t) { return 1e-5 * std::sin(2 * kPi * 1000 * t); }, -90).empty());
  std::mt19937_64 rng(3);
  std::normal_distribution<double> noise(0, 0.1);
  EXPECT_TRUE(peaks_of([&](double) { return noise(rng); }).empty());
}

// Where partials crowd, their lobes are the local noise: thirty harmonics of 41.2 Hz, each on
// its neighbours' first nulls, are each found, by the agreement of their bins. A partial 80 dB
// under a loud one 750 Hz away keeps its frequency (the loud one's leakage, which the
// reassignment weighs by its distance, does not move it). A sine that starts at the frame's
// centre has its energy late in the window.
TEST(Peaks, CrowdedQuietAndStarting) {
  const auto bass = peaks_of([](double t) {
    double x = 0;
    for (int k = 1; k <= 30; ++k) x += 0.3 / std::pow(k, 0.7) * std::sin(2 * kPi * 41.2 * k * t + k);
    return x;
  });
  ASSERT_EQ(bass.size(), 30u);
  for (std::size_t k = 0; k < 30; ++k) EXPECT_NEAR(bass[k].freq, 41.2 * static_cast<double>(k + 1), 0.3) << k;
  const auto quiet = peaks_of([](double t) { return 0.5 * std::sin(2 * kPi * 1000 * t) + 5e-5 * std::sin(2 * kPi * 250 * t + 1); });
  ASSERT_EQ(quiet.size(), 2u);
  EXPECT_NEAR(quiet[0].freq, 250, 0.05);
  EXPECT_NEAR(20 * std::log10(quiet[0].amp / 5e-5), 0, 0.5);
  const auto starting = peaks_of([](double t) { return t < 0 ? 0.0 : 0.3 * std::sin(2 * kPi * 700 * t); });
  ASSERT_EQ(starting.size(), 1u);
  EXPECT_NEAR(starting[0].freq, 700, 5);
  EXPECT_GT(starting[0].offset, 0.005);
}

}  // namespace

// The selection finds std::nth_element's value for every rank, in arrays of distinct values,
// of many equal ones, sorted both ways, and around the size at which it sorts instead.
TEST(Peaks, SelectionFindsTheValueOfEachRank) {
  std::mt19937_64 rng(7);
  std::uniform_int_distribution<int> few(0, 3);
  std::exponential_distribution<double> noise(1.0);
  for (const std::size_t n : {std::size_t{1}, std::size_t{2}, std::size_t{16}, std::size_t{17}, std::size_t{64}, std::size_t{97}}) {
    for (int shape = 0; shape < 4; ++shape) {
      std::vector<double> a(n);
      for (std::size_t i = 0; i < n; ++i)
        a[i] = shape == 0 ? noise(rng) : shape == 1 ? few(rng) : shape == 2 ? static_cast<double>(i) : static_cast<double>(n - i);
      for (std::size_t k = 0; k < n; ++k) {
        std::vector<double> mine = a, theirs = a;
        std::nth_element(theirs.begin(), theirs.begin() + static_cast<std::ptrdiff_t>(k), theirs.end());
        ASSERT_EQ(zarn::detail::select_kth(mine.data(), n, k), theirs[k]) << "n " << n << " shape " << shape << " k " << k;
      }
    }
  }
}

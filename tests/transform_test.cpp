// The frame's window and transforms: the window's sum and energy, a sine's peak at its bin,
// and the transform at any frequency against the transform's own bins.
#include "analysis/transform.hpp"

#include <cmath>
#include <complex>
#include <vector>

#include <gtest/gtest.h>

namespace {

constexpr double kPi = 3.14159265358979323846;

TEST(Transform, ASineAtABinPeaksAtItsAmplitudeTimesHalfTheGain) {
  const std::size_t L = 1001;
  zarn::FrameTransform t(L, 8000);
  EXPECT_EQ(t.size(), 1024u);
  EXPECT_EQ(t.half(), 500u);
  // The Blackman window's sum is 0.42 of its length, its energy about 0.3046 of it.
  EXPECT_NEAR(t.gain() / static_cast<double>(L - 1), 0.42, 1e-9);
  EXPECT_NEAR(t.energy() / static_cast<double>(L - 1), 0.3046875, 1e-4);
  EXPECT_GT(t.spread(), 0);
  const double k = 64, amp = 0.5, omega = 2 * kPi * k / 1024;
  t.run([&](std::size_t n) { return amp * std::cos(omega * (static_cast<double>(n) - 500.0)); });
  EXPECT_NEAR(std::abs(t.X()[64]), amp * t.gain() / 2, 1e-9);
  // The direct sum at the bin's frequency is the bin, and between bins it keeps the window's shape.
  const std::complex<double> direct = t.at(omega);
  EXPECT_NEAR(std::abs(direct - t.X()[64]), 0, 1e-9);
  EXPECT_LT(std::abs(t.at(omega + 2 * kPi * 3.5 / 1024)), 2e-3 * std::abs(direct));  // a side lobe, 54 dB down at least
  // A sine at the frame's centre has no time offset: T is as much before as after.
  EXPECT_NEAR(std::real(t.T()[64] * std::conj(t.X()[64])) / std::norm(t.X()[64]), 0, 1e-6);
}

}  // namespace

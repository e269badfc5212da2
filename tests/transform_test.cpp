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
  // A sine at the frame's centre has no time offset: T is as much before as after.
  EXPECT_NEAR(std::real(t.T()[64] * std::conj(t.X()[64])) / std::norm(t.X()[64]), 0, 1e-6);
}

// The window's response, at bins and between them, is its transform summed directly.
TEST(Transform, TheResponseIsTheWindowsTransform) {
  const std::size_t L = 1001;
  zarn::FrameTransform t(L, 8000);
  t.run([](std::size_t) { return 1.0; });  // the window itself
  for (const double bins : {0.0, 1.0, 2.5, 3.0, 3.5, 17.25}) {
    const double delta = 2 * kPi * bins / 1024;
    std::complex<double> direct = 0;
    for (std::size_t n = 0; n < L; ++n) {
      const double x = 2 * kPi * static_cast<double>(n) / static_cast<double>(L - 1);
      direct += (0.42 - 0.5 * std::cos(x) + 0.08 * std::cos(2 * x)) * std::polar(1.0, -delta * (static_cast<double>(n) - 500.0));
    }
    EXPECT_NEAR(t.response(delta), direct.real(), 1e-9 * t.gain()) << bins;
    EXPECT_NEAR(direct.imag(), 0, 1e-9 * t.gain()) << bins;
  }
}

// A sine that starts within the window reassigns to a time from which onset() finds where it
// started, to a sample, and seen_after() the share of the window's sum that saw it.
TEST(Transform, WhereASineStartsFromItsReassignedTime) {
  const std::size_t L = 1001;
  const double rate = 8000, omega = 2 * kPi * 64 / 1024;
  zarn::FrameTransform t(L, rate);
  for (const std::size_t start : {std::size_t{100}, std::size_t{400}, std::size_t{500}, std::size_t{700}, std::size_t{900}}) {
    t.run([&](std::size_t n) { return n < start ? 0.0 : std::cos(omega * static_cast<double>(n)); });
    const double offset = std::real(t.T()[64] * std::conj(t.X()[64])) / std::norm(t.X()[64]) / rate;
    const double onset = t.onset(offset), expected = (static_cast<double>(start) - 500.0) / rate;
    EXPECT_NEAR(onset, expected, 1.0 / rate) << start;
    double after = 0, all = 0;
    for (std::size_t n = 0; n < L; ++n) {
      const double w = 0.42 - 0.5 * std::cos(2 * kPi * static_cast<double>(n) / static_cast<double>(L - 1)) + 0.08 * std::cos(4 * kPi * static_cast<double>(n) / static_cast<double>(L - 1));
      all += w;
      if (n >= start) after += w;
    }
    EXPECT_NEAR(t.seen_after(expected), after / all, 1e-9) << start;
    // A sine that stops there, the mirror image, has its centre as far the other way.
    t.run([&](std::size_t n) { return n >= L - start ? 0.0 : std::cos(omega * static_cast<double>(n)); });
    const double stop_offset = std::real(t.T()[64] * std::conj(t.X()[64])) / std::norm(t.X()[64]) / rate;
    EXPECT_NEAR(-t.onset(-stop_offset), -expected, 1.0 / rate) << start;
  }
}

}  // namespace

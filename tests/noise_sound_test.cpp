// The sound of noise: in each band at the mean square its power asks for, silent where the
// power is 0, and the same samples whatever the blocks it is made in.
#include "render/noise_sound.hpp"

#include <algorithm>
#include <cmath>
#include <complex>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace {

// One second of a single band's noise of power `power` (the others silent), at 44.1 kHz.
std::vector<double> band_sound(std::size_t band, double power, long block) {
  zarn::Noise n = zarn::critical_band_noise();
  for (int j = 0; j <= 100; ++j) {
    n.times.push_back(0.01 * j);
    for (std::size_t b = 0; b < 25; ++b) n.power.push_back(b == band ? power : 0.0);
  }
  zarn::NoiseSound sound(n, 44100);
  std::vector<double> out(44100, 0.0);
  for (long at = 0; at < 44100; at += block) sound.add(out.data() + at, at, std::min<long>(44100, at + block));
  return out;
}

TEST(NoiseSound, EachBandAtItsPower) {
  for (const std::size_t band : {std::size_t{0}, std::size_t{5}, std::size_t{12}, std::size_t{20}, std::size_t{24}}) {
    SCOPED_TRACE(band);
    const std::vector<double> x = band_sound(band, 1e-3, 44100);
    double sum = 0;
    for (double v : x) sum += v * v;
    EXPECT_NEAR(10 * std::log10(sum / static_cast<double>(x.size()) / 1e-3), 0, 0.5);
  }
  for (double v : band_sound(7, 0.0, 44100)) ASSERT_EQ(v, 0.0);
}

TEST(NoiseSound, TheSameSamplesInBlocksOfAnySize) {
  const std::vector<double> whole = band_sound(9, 1e-2, 44100);
  for (const long block : {1L, 31L, 32L, 1000L}) EXPECT_EQ(band_sound(9, 1e-2, block), whole) << block;
}

// The noise's level follows its frames within a millisecond, not the frames it is shaped in: a
// band silent until 0.5 s and loud from 0.501 s makes nothing before 0.499 s. And a band's noise
// stays in its band: a loud band leaves the bands beyond its neighbours 40 dB and more under it.
TEST(NoiseSound, FollowsAnOnsetAndKeepsToItsBand) {
  zarn::Noise n = zarn::critical_band_noise();
  for (const auto& [t, p] : {std::pair<double, double>{0.0, 0.0}, {0.5, 0.0}, {0.501, 1e-2}, {1.0, 1e-2}}) {
    n.times.push_back(t);
    for (std::size_t b = 0; b < 25; ++b) n.power.push_back(b == 12 ? p : 0.0);
  }
  zarn::NoiseSound sound(n, 44100);
  std::vector<double> out(44100, 0.0);
  sound.add(out.data(), 0, 44100);
  double before = 0, after = 0;
  for (std::size_t i = 0; i < 22006; ++i) before = std::max(before, std::fabs(out[i]));
  for (std::size_t i = 22140; i < 44100; ++i) after += out[i] * out[i];
  EXPECT_EQ(before, 0.0);
  EXPECT_NEAR(10 * std::log10(after / (44100 - 22140) / 1e-2), 0, 0.5);
  // The spectrum of the loud half: band 12 (1720 to 2000 Hz) against those beyond its neighbours.
  std::vector<std::complex<double>> x(16384);
  for (std::size_t i = 0; i < x.size(); ++i)  // through a Hann window, whose own leakage is far lower
    x[i] = out[22140 + i] * (0.5 - 0.5 * std::cos(2 * 3.14159265358979323846 * static_cast<double>(i) / static_cast<double>(x.size())));
  zarn::detail::Fft(x.size()).run(x, false);
  double in = 0, beside = 0;
  for (std::size_t k = 1; k < x.size() / 2; ++k) {
    const double f = static_cast<double>(k) * 44100 / static_cast<double>(x.size());
    if (f >= 1720 && f < 2000) in += std::norm(x[k]);
    if ((f >= 1270 && f < 1480) || (f >= 2320 && f < 2700)) beside += std::norm(x[k]);
  }
  EXPECT_LT(10 * std::log10(beside / in), -40);
}

}  // namespace

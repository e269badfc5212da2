// The sound of noise: in each band at the mean square its power asks for, silent where the
// power is 0, and the same samples whatever the blocks it is made in.
#include "render/noise_sound.hpp"

#include <cmath>
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

}  // namespace

// What a frame's peaks leave, by band: white noise at its level in every band (the mean of
// many frames within 1 dB), and a loud tone in none, its band at the noise's level.
#include "analysis/residual.hpp"

#include <cmath>
#include <functional>
#include <random>
#include <utility>
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

// Noise that rises tenfold and more with its energy late in the frame is an onset: before it,
// no frame is louder than before the rise (its window's reach is no pre-echo), and after it the
// noise is at its new level within a millisecond. A rise with the energy at the centre, or a
// fall, is left as measured.
// A constant offset is no noise: beside a tone, the lowest band (0 to 100 Hz) holds nothing
// of an offset 20 dB above the tone, where a rumble at 70 Hz as loud is measured there.
TEST(Residual, AnOffsetIsNoNoise) {
  const std::size_t L = 3309;
  const double rate = 44100;
  zarn::FrameTransform t(L, rate);
  zarn::PeakFinder peaks(t, rate, 1e-6);
  zarn::Residual residual(t, rate, zarn::critical_band_edges());
  std::vector<double> band(25);
  const auto lowest = [&](const std::function<double(double)>& under) {
    t.run([&](std::size_t n) {
      const double s = static_cast<double>(n) / rate;
      return 0.1 * std::sin(2 * kPi * 1000 * s) + under(s);
    });
    peaks.find(t);
    residual.measure(peaks, band.data());
    return band[0];
  };
  EXPECT_LT(lowest([](double) { return 1.0; }), 1e-5);  // its side lobes, 58 dB down, alone
  std::mt19937_64 rng(9);
  std::normal_distribution<double> noise(0, 1);
  std::vector<double> rumble(L);
  for (std::size_t n = 0; n < L; ++n) rumble[n] = noise(rng) * std::sin(2 * kPi * 70 * static_cast<double>(n) / rate);
  EXPECT_GT(lowest([&](double s) { return rumble[static_cast<std::size_t>(std::lround(s * rate))]; }), 1e-4);
}

TEST(Residual, NoiseFollowsAnOnset) {
  const std::size_t L = 3309;
  const double rate = 44100, hop = 827 / rate;
  zarn::FrameTransform window(L, rate);
  const auto noise_of = [&](const std::vector<double>& total) {
    zarn::Noise n;
    n.edges = {0, 1000, 2000};
    for (std::size_t j = 0; j < total.size(); ++j) {
      n.times.push_back(static_cast<double>(j) * hop);
      n.power.push_back(0.25 * total[j]), n.power.push_back(0.75 * total[j]);
    }
    return n;
  };
  // The rise seen at frame 8, its energy 20 ms after that frame's centre; frame 9 sees it 1 ms
  // after its own.
  std::vector<double> rising(20, 1e-6), offsets(20, 0.0);
  for (std::size_t j = 8; j < 20; ++j) rising[j] = j == 8 ? 1e-4 : 1e-2;
  offsets[7] = 0.03, offsets[8] = 0.02, offsets[9] = 0.001;
  zarn::Noise n = noise_of(rising);
  zarn::Residual::sharpen_onsets(n, offsets, window);
  // Told by the later of frames 8 and 9, no more than 4 ms before their energy's centre.
  const auto start = [&](double centre, double offset) { return centre + std::max(window.onset(offset), offset - 0.004); };
  const double onset = std::max(start(8 * hop, 0.02), start(9 * hop, 0.001));
  double power[2];
  for (double t = 0; t < onset - 0.001; t += 0.0005) {
    n.at(t, power);
    EXPECT_LE(power[0] + power[1], 1e-6 * (1 + 1e-9)) << t;
  }
  n.at(onset, power);
  EXPECT_NEAR(power[0] + power[1], 1e-2, 1e-12);
  EXPECT_NEAR(power[1] / power[0], 3, 1e-9);  // the bands keep their shares
  // No onset: a rise at the frame's centre, a fall with late energy.
  for (const auto& [total, late] : {std::pair<double, double>{1e-2, 0.0}, {1e-8, 0.03}}) {
    std::vector<double> step(20, 1e-6), at(20, 0.0);
    for (std::size_t j = 8; j < 20; ++j) step[j] = total;
    at[8] = late;
    zarn::Noise m = noise_of(step);
    const zarn::Noise before = m;
    zarn::Residual::sharpen_onsets(m, at, window);
    EXPECT_EQ(m.times, before.times);
    EXPECT_EQ(m.power, before.power);
  }
}

}  // namespace

// The warp by the fundamental: its course through vibratos, glides, steps and breaks; the
// sound in warped time; the first look's fundamental; and the analysis with and without it.
#include "analysis/warp.hpp"

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "analysis/analysis.hpp"
#include "analysis/transform.hpp"
#include "support.hpp"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kHop = 0.01875;  // the default hop at 44.1 kHz, in seconds
constexpr double kCent = 0.6931471805599453 / 1200;

// A warp fed one fundamental a frame (0 for none), with no window spread to correct for.
zarn::PitchWarp fed(const std::function<double(double)>& f0, int frames) {
  zarn::PitchWarp w(kHop, 4, 0.0);
  for (int j = 0; j < frames; ++j) w.add(f0(j * kHop));
  w.end();
  return w;
}

// How many of frames [from, to) are warped, and the largest log rate among them, in cents.
struct Seen {
  int warped = 0;
  double most = 0;
};
Seen seen(zarn::PitchWarp& w, int from, int to) {
  Seen s;
  for (int j = from; j < to; ++j) {
    s.warped += w.warps(j) ? 1 : 0;
    s.most = std::max(s.most, std::fabs(w.log_rate(j)) / kCent);
  }
  return s;
}

// Steady tones, glides (straight in log), steps from note to note, a single wild estimate and
// short or broken runs are not warped; vibratos are, by their own depth about their course.
TEST(PitchWarp, WarpsVibratosAndNothingElse) {
  const struct {
    const char* what;
    std::function<double(double)> f0;
    bool warped;
    double depth;  // cents, the vibrato's
  } cases[] = {
      {"steady", [](double) { return 220.0; }, false, 0},
      {"glide up an octave a second", [](double t) { return 220 * std::pow(2.0, t); }, false, 0},
      {"glide down", [](double t) { return 440 * std::pow(2.0, -0.7 * t); }, false, 0},
      {"a semitone step", [](double t) { return t < 0.6 ? 220.0 : 233.08; }, false, 0},
      {"a tone step", [](double t) { return t < 0.6 ? 220.0 : 246.9; }, false, 0},
      {"a fifth down", [](double t) { return t < 0.6 ? 330.0 : 220.0; }, false, 0},
      {"one wild frame", [](double t) { return std::fabs(t - 0.6) < 0.5 * kHop ? 235.0 : 220.0; }, false, 0},
      {"0.15 s of vibrato", [](double t) { return t > 0.5 && t < 0.65 ? 220 * std::pow(2.0, 0.5 * std::sin(2 * kPi * 6 * t) / 12) : 0.0; }, false, 0},
      {"vibrato of 5 cents", [](double t) { return 220 * std::pow(2.0, 0.05 * std::sin(2 * kPi * 6 * t) / 12); }, false, 0},
      {"vibrato of 50 cents", [](double t) { return 220 * std::pow(2.0, 0.5 * std::sin(2 * kPi * 5.5 * t) / 12); }, true, 50},
      {"vibrato of 80 cents on a glide", [](double t) { return 200 * std::pow(2.0, 0.3 * t + 0.8 * std::sin(2 * kPi * 6.5 * t) / 12); }, true, 80},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    zarn::PitchWarp w = fed(c.f0, 64);
    if (!c.warped) {
      EXPECT_EQ(seen(w, 0, 64).warped, 0);
      continue;
    }
    // Away from the ends, where the course has frames on both sides.
    const Seen s = seen(w, 12, 52);
    EXPECT_EQ(s.warped, 40);
    EXPECT_GT(s.most, 0.8 * c.depth);
    EXPECT_LT(s.most, 1.2 * c.depth);
  }
}

// The log rate follows the vibrato's own phase: up where the fundamental is above its course,
// down below it (a warp of the wrong sign would double the motion it means to take out).
TEST(PitchWarp, RateFollowsTheVibratosPhase) {
  const auto f0 = [](double t) { return 220 * std::pow(2.0, 0.6 * std::sin(2 * kPi * 5 * t) / 12); };
  zarn::PitchWarp w = fed(f0, 64);
  for (int j = 16; j < 48; ++j) {
    const double truth = 60 * std::sin(2 * kPi * 5 * j * kHop);  // cents above the course
    EXPECT_NEAR(w.log_rate(j) / kCent, truth, 12) << j;
  }
  // Between frames, the cubic through them.
  const double half = w.log_rate(30.5) / kCent, truth = 60 * std::sin(2 * kPi * 5 * 30.5 * kHop);
  EXPECT_NEAR(half, truth, 12);
}

// A window averages its fundamental over its spread, which flattens a vibrato's peaks: the
// warp puts half the curvature times the spread back, deepening them.
TEST(PitchWarp, CurvatureTheWindowAveragedIsPutBack) {
  const auto f0 = [](double t) { return 220 * std::pow(2.0, 0.5 * std::sin(2 * kPi * 6 * t) / 12); };
  zarn::PitchWarp flat(kHop, 4, 0.0), spread(kHop, 4, 6e-5);
  for (int j = 0; j < 64; ++j) flat.add(f0(j * kHop)), spread.add(f0(j * kHop));
  flat.end(), spread.end();
  int deeper = 0, peaks = 0;
  for (int j = 16; j < 48; ++j) {
    const double a = flat.log_rate(j), b = spread.log_rate(j);
    if (std::fabs(a) < 30 * kCent) continue;
    ++peaks;
    deeper += std::fabs(b) > std::fabs(a) && a * b > 0 ? 1 : 0;
  }
  EXPECT_GT(peaks, 5);
  EXPECT_EQ(deeper, peaks);
}

// A frame is ready once the frames its warp reaches are known, or the sound has ended; those
// it lets go are not asked about again.
TEST(PitchWarp, ReadyOnceItsFramesAreKnown) {
  zarn::PitchWarp w(kHop, 4, 0.0);
  const long lag = static_cast<long>(w.lag());
  EXPECT_GT(lag, 4);
  for (long j = 0; j < lag; ++j) w.add(220);
  EXPECT_FALSE(w.ready(0));
  w.add(220);
  EXPECT_TRUE(w.ready(0));
  EXPECT_FALSE(w.ready(1));
  w.end();
  EXPECT_TRUE(w.ready(lag + 5));
  w.forget_before(lag);
  EXPECT_FALSE(w.warps(lag));
}

// Band-limited interpolation: exact on the samples, flat within 0.01 dB to 30 % of the rate.
TEST(Interpolator, ExactOnSamplesAndFlatInTheBand) {
  zarn::Interpolator in;
  for (const double cycles : {0.01, 0.1, 0.2, 0.3}) {
    SCOPED_TRACE(cycles);
    std::vector<double> x(256);
    for (std::size_t n = 0; n < x.size(); ++n) x[n] = std::sin(2 * kPi * cycles * static_cast<double>(n) + 0.3);
    double worst = 0;
    for (double pos = 40; pos < 200; pos += 0.37) worst = std::max(worst, std::fabs(in.at(x.data(), pos) - std::sin(2 * kPi * cycles * pos + 0.3)));
    EXPECT_LT(worst, 0.0012);
    EXPECT_NEAR(in.at(x.data(), 100.0), x[100], 1e-12);
  }
}

// The sound in warped time: without a warp, the sound itself; through a vibrato, a harmonic
// that swept 200 Hz within the window holds still, its spectrum's peak several times higher.
TEST(WarpedSound, HoldsAVibratosHarmonicStill) {
  constexpr double kRate = 44100;
  const std::size_t hop = 827, half = 1654;
  const auto f0 = [](double t) { return 110 * std::pow(2.0, std::sin(2 * kPi * 7 * t) / 12); };
  std::vector<double> x(static_cast<std::size_t>(kRate));
  double phase = 0;
  for (std::size_t i = 0; i < x.size(); ++i) {
    x[i] = std::sin(phase);
    phase += 2 * kPi * 18 * f0(static_cast<double>(i) / kRate) / kRate;  // the 18th harmonic
  }
  const auto peak = [&](const double* frame) {
    zarn::FrameTransform t(2 * half + 1, kRate);
    t.run([frame](std::size_t n) { return frame[n]; });
    double most = 0;
    for (std::size_t k = 0; k <= t.size() / 2; ++k) most = std::max(most, std::norm(t.X()[k]));
    return most;
  };
  zarn::PitchWarp none(kHop, 4, 0.0), vibrato(kHop, 4, 0.0);
  for (int j = 0; j < 53; ++j) none.add(0), vibrato.add(f0(j * kHop));
  none.end(), vibrato.end();
  zarn::WarpedSound plain_sound(static_cast<double>(hop), half), warped_sound(static_cast<double>(hop), half);
  double at = 0;
  const double* same = plain_sound.window(none, 26, false, x.data(), 0, at);
  EXPECT_EQ(at, 26.0 * hop);
  for (std::size_t n = 0; n <= 2 * half; ++n) ASSERT_NEAR(same[n], x[26 * hop - half + n], 1e-12) << n;
  const double plain = peak(same);
  int sharper = 0;
  const zarn::Interpolator in;
  for (long j = 20; j < 30; ++j) {
    const double* w = warped_sound.window(vibrato, j, j > 20, x.data(), 0, at);
    EXPECT_NEAR(at, static_cast<double>(j * hop), 1.0);
    EXPECT_NEAR(w[half], in.at(x.data(), at), 1e-6);  // the window's centre is the sound at `at`
    sharper += peak(w) > 3 * plain ? 1 : 0;
  }
  EXPECT_EQ(sharper, 10);
}

// The warped samples lie where the warp's rate puts them: from the window's centre, each a
// warped sample on, the sound's position moves by exp(-log_rate) (worked out here in fine
// steps), read back from a slow sine; within a fiftieth of a sample across the window.
TEST(WarpedSound, SamplesWhereTheRateIntegratesTo) {
  constexpr double kRate = 44100;
  const std::size_t hop = 827, half = 1654;
  const long j = 26;
  const double centre = static_cast<double>(j * hop), period = 40000;
  std::vector<double> x(static_cast<std::size_t>(kRate));
  for (std::size_t i = 0; i < x.size(); ++i) x[i] = std::sin(2 * kPi * (static_cast<double>(i) - centre) / period);
  zarn::PitchWarp vibrato(kHop, 4, 0.0);
  for (int k = 0; k < 53; ++k) vibrato.add(110 * std::pow(2.0, std::sin(2 * kPi * 7 * k * kHop) / 12));
  vibrato.end();
  zarn::WarpedSound sound(static_cast<double>(hop), half);
  double at = 0;
  const double* w = sound.window(vibrato, j, false, x.data(), 0, at);
  const auto slope = [&](double t) { return std::exp(-vibrato.log_rate(t / static_cast<double>(hop))); };
  // Runge-Kutta in quarter samples, out from the centre both ways.
  for (const double way : {1.0, -1.0}) {
    double t = at, worst = 0;
    for (std::size_t n = 1; n <= half - 20; ++n) {
      for (int q = 0; q < 4; ++q) {
        const double h = 0.25 * way, k1 = slope(t), k2 = slope(t + 0.5 * h * k1), k3 = slope(t + 0.5 * h * k2), k4 = slope(t + h * k3);
        t += h * (k1 + 2 * k2 + 2 * k3 + k4) / 6;
      }
      const double value = w[way > 0 ? half + n : half - n];
      const double seen = centre + std::asin(value) * period / (2 * kPi);
      worst = std::max(worst, std::fabs(seen - t));
    }
    EXPECT_LT(worst, 0.02) << way;
  }
}

// The first look's fundamental: a harmonic tone's within a few cents, none for two unrelated
// glides or silence.
TEST(FrameFundamental, HarmonicsYesUnrelatedTonesNo) {
  constexpr double kRate = 44100;
  zarn::FrameTransform t(3309, kRate);
  std::vector<double> freq, amp;
  const auto look = [&](const std::function<double(double)>& x) {
    t.run([&](std::size_t n) { return x(static_cast<double>(n) / kRate); });
    return zarn::frame_fundamental(t, kRate, 0, freq, amp);
  };
  const double harmonic = look([](double s) {
    double v = 0;
    for (int k = 1; k <= 8; ++k) v += 0.3 / k * std::sin(2 * kPi * 196 * k * s + k);
    return v;
  });
  EXPECT_NEAR(1200 * std::log2(harmonic / 196), 0, 3);
  EXPECT_EQ(look([](double s) { return 0.2 * std::sin(2 * kPi * 517 * s) + 0.2 * std::sin(2 * kPi * 1403 * s) + 0.15 * std::sin(2 * kPi * 2291 * s); }), 0.0);
  EXPECT_EQ(look([](double) { return 0.0; }), 0.0);
}

// A fundamental is followed where the first look is sure of it, 0.7 or more, and not below:
// a harmonic tone with an unrelated one of rising level crosses from one to the other.
TEST(FrameFundamental, FollowedFromItsConfidenceOn) {
  constexpr double kRate = 44100;
  zarn::FrameTransform t(3309, kRate);
  std::vector<double> freq, amp;
  int followed = 0, doubtful = 0;
  for (double other = 0.0; other <= 0.6; other += 0.02) {
    t.run([&](std::size_t n) {
      const double s = static_cast<double>(n) / kRate;
      double v = other * std::sin(2 * kPi * 1237 * s);
      for (int k = 1; k <= 4; ++k) v += 0.3 / k * std::sin(2 * kPi * 220 * k * s + k);
      return v;
    });
    const double f0 = zarn::frame_fundamental(t, kRate, 0, freq, amp);
    const auto [found, sure] = zarn::detail::fundamental_of(freq, amp, 0.0, zarn::kFundamentalLo, zarn::kFundamentalHi, 0);
    EXPECT_EQ(f0, sure >= 0.7 ? found : 0.0) << other << ": sure " << sure;
    followed += sure >= 0.7 ? 1 : 0;
    doubtful += sure >= 0.5 && sure < 0.7 ? 1 : 0;
  }
  // The mixtures reach both sides of the line, and between 0.5 and 0.7 too.
  EXPECT_GT(followed, 0);
  EXPECT_GT(doubtful, 0);
}

// Where nothing is warped, the analysis is the plain one bit for bit (the frames looked at
// first keep their transform for the second look); through a fast, deep vibrato, each of 16
// harmonics is one partial on its harmonic, where the plain analysis loses the upper ones.
TEST(Analysis, WarpedWhereTheFundamentalBendsOnly) {
  constexpr double kRate = 44100;
  // Steady and gliding partials of no one fundamental (the glides' slopes weigh each peak's
  // time in the frame).
  const auto steady = zarn_test::tone(kRate, 1.0, {{[](double) { return 311.0; }, 0.3},
                                        {[](double t) { return 500 + 400 * t; }, 0.2},
                                        {[](double t) { return 1900 - 600 * t; }, 0.1},
                                        {[](double) { return 1789.0; }, 0.05}});
  zarn::AnalysisOptions warp, plain;
  plain.warp = false;
  const zarn::PartialSet a = zarn::analyse(steady.data(), steady.size(), kRate, warp), b = zarn::analyse(steady.data(), steady.size(), kRate, plain);
  ASSERT_EQ(a.P(), b.P());
  for (std::size_t p = 0; p < a.partials.size(); ++p) EXPECT_EQ(zarn_test::points(a.partials[p]), zarn_test::points(b.partials[p]));
  EXPECT_EQ(a.noise.power, b.noise.power);

  const auto f0 = [](double t) { return 110 * std::pow(2.0, std::sin(2 * kPi * 7 * t) / 12); };
  std::vector<std::pair<std::function<double(double)>, double>> harmonics;
  for (int k = 1; k <= 16; ++k) harmonics.push_back({[f0, k](double t) { return k * f0(t); }, 0.25 / k});
  const auto vibrato = zarn_test::tone(kRate, 1.5, harmonics);
  const auto on_harmonics = [&](const zarn::PartialSet& set) {
    std::vector<int> partials(17, 0);
    for (const zarn::Partial& p : set.partials) {
      const double t = p.time[p.time.size() / 2];
      const long k = std::lround(p.freq[p.time.size() / 2] / f0(t));
      if (k < 1 || k > 16 || p.time.back() - p.time.front() < 1.0) continue;
      bool on = true;
      for (std::size_t i = 3; i + 3 < p.time.size(); ++i) on = on && std::fabs(1200 * std::log2(p.freq[i] / (static_cast<double>(k) * f0(p.time[i])))) < 10;
      partials[static_cast<std::size_t>(k)] += on ? 1 : 0;
    }
    return std::count(partials.begin(), partials.end(), 1);
  };
  const zarn::PartialSet whole = zarn::analyse(vibrato.data(), vibrato.size(), kRate, warp);
  EXPECT_EQ(on_harmonics(whole), 16);
  EXPECT_LT(on_harmonics(zarn::analyse(vibrato.data(), vibrato.size(), kRate, plain)), 8);
  // The same bits whatever the blocks the sound comes in, also at a hop of a few samples,
  // where the warp's frames lie closest.
  for (const double hop : {0.0, 0.0001}) {
    SCOPED_TRACE(hop);
    zarn::AnalysisOptions o;
    o.hop = hop;
    const std::size_t n = hop > 0 ? 8000 : vibrato.size();
    const zarn::PartialSet at_once = zarn::analyse(vibrato.data(), n, kRate, o);
    zarn::Analyser blocks(kRate, o);
    for (std::size_t at = 0; at < n; at += 997) blocks.add(vibrato.data() + at, std::min<std::size_t>(997, n - at));
    const zarn::PartialSet in_blocks = blocks.finish();
    ASSERT_EQ(at_once.P(), in_blocks.P());
    for (std::size_t p = 0; p < at_once.partials.size(); ++p) EXPECT_EQ(zarn_test::points(at_once.partials[p]), zarn_test::points(in_blocks.partials[p]));
    EXPECT_EQ(at_once.noise.power, in_blocks.noise.power);
  }
}

}  // namespace

// The resynthesis checked by listening instruments: the strongest frequency, the RMS level,
// sums, lengths, clicks, the oscillator's error against exact sines, and the sound file.
#include "model/phase.hpp"
#include "render/sound.hpp"

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "model/failure.hpp"

#include "run_binary.hpp"
#include "render/sound_file.hpp"

#ifdef ZARN_HAVE_SNDFILE
#include <sndfile.h>
#endif

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kRate = 44100;

// A resampled partial on the grid from t0 with the given step, frequencies and amplitudes.
zarn::Resampled partial(double t0, double step, const std::vector<double>& f, const std::vector<double>& a) {
  zarn::Resampled p;
  for (std::size_t j = 0; j < f.size(); ++j) p.time.push_back(t0 + static_cast<double>(j) * step);
  p.freq = f;
  p.amp = a;
  return p;
}

zarn::ResampledSet set_of(std::vector<zarn::Resampled> parts, double step) {
  zarn::ResampledSet set;
  set.partials = std::move(parts);
  set.step = step;
  return set;
}

// The strength of frequency f in the samples [from, to), by Goertzel's recurrence.
double goertzel(const std::vector<float>& s, std::size_t from, std::size_t to, double f) {
  const double c = 2 * std::cos(2 * kPi * f / kRate);
  double s1 = 0, s2 = 0;
  for (std::size_t n = from; n < to; ++n) {
    const double s0 = s[n] + c * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  return s1 * s1 + s2 * s2 - c * s1 * s2;
}

double rms(const std::vector<float>& s, std::size_t from, std::size_t to) {
  double sum = 0;
  for (std::size_t n = from; n < to; ++n) sum += static_cast<double>(s[n]) * s[n];
  return std::sqrt(sum / static_cast<double>(to - from));
}

TEST(Sound, ConstantPartialHasItsFrequencyLevelAndLength) {
  // 440 Hz at 0.5 for one second, on a grid of 0.01.
  const zarn::ResampledSet set = set_of({partial(0, 0.01, std::vector<double>(101, 440.0), std::vector<double>(101, 0.5))}, 0.01);
  const std::vector<float> s = zarn::render(set, kRate);
  ASSERT_EQ(s.size(), static_cast<std::size_t>(kRate) + 1);  // times 0 to 1 s, both ends
  // The strongest frequency, searched in 0.05 Hz steps around it over a second's samples.
  double best = 0, best_f = 0;
  for (double f = 430; f <= 450; f += 0.05) {
    const double g = goertzel(s, 0, s.size(), f);
    if (g > best) best = g, best_f = f;
  }
  EXPECT_NEAR(best_f, 440.0, 0.5);
  EXPECT_NEAR(rms(s, 2205, s.size() - 2205), 0.5 / std::sqrt(2.0), 0.01 * 0.5 / std::sqrt(2.0));
  EXPECT_NEAR(zarn::peak(s), 0.5, 1e-3);
}

// The sound of partials analysed from a sound lasts as that sound did, to the sample, whether
// its partials stop before its end (silence kept) or reach past it (cut off).
TEST(Sound, LastsAsTheSoundAnalysed) {
  const zarn::ResampledSet within = set_of({partial(0, 0.01, std::vector<double>(51, 440.0), std::vector<double>(51, 0.5))}, 0.01);
  for (const double length : {0.75, 0.3, 0.0}) {
    zarn::ResampledSet set = within;
    set.length = length;
    for (const int rate : {kRate, 16000}) {
      const std::vector<float> s = zarn::render(set, rate);
      const double expected = length > 0 ? std::round(length * rate) : std::floor(0.5 * rate) + 1;
      EXPECT_EQ(static_cast<double>(s.size()), expected) << length << " s at " << rate;
      EXPECT_EQ(zarn::sound_length(set, rate), expected);
    }
  }
}

TEST(Sound, PartialsAddAndEndsDoNotClick) {
  const zarn::Resampled a = partial(0.1, 0.02, {300, 310, 305, 300, 320, 330}, {0.3, 0.4, 0.2, 0.5, 0.1, 0.3});
  const zarn::Resampled b = partial(0.05, 0.02, {1000, 990, 1010}, {0.2, 0.25, 0.2});
  const std::vector<float> both = zarn::render(set_of({a, b}, 0.02), kRate);
  const std::vector<float> only_a = zarn::render(set_of({a}, 0.02), kRate);
  const std::vector<float> only_b = zarn::render(set_of({b}, 0.02), kRate);
  ASSERT_EQ(both.size(), only_a.size());
  for (std::size_t n = 0; n < both.size(); ++n) {
    const float b_n = n < only_b.size() ? only_b[n] : 0.0f;
    EXPECT_NEAR(both[n], only_a[n] + b_n, 1e-6) << n;
  }
  // The fade (5 ms here, shorter than the step) bounds every step between samples, b's end
  // within a included: for each partial, its peak amplitude times one sample of fade and one
  // sample of the sine's turn, plus how far its amplitude glides in one sample.
  const double fade_samples = 0.005 * kRate;
  const double bound = 0.5 * (1 / fade_samples + 2 * kPi * 330 / kRate) + 20.0 / kRate +
                       0.25 * (1 / fade_samples + 2 * kPi * 1010 / kRate) + 2.5 / kRate;
  for (std::size_t n = 1; n < both.size(); ++n) EXPECT_LE(std::fabs(both[n] - both[n - 1]), bound) << n;
  EXPECT_EQ(only_a[static_cast<std::size_t>(std::ceil(0.1 * kRate))], 0.0f);  // silent at its first point
  EXPECT_NEAR(only_a.back(), 0.0f, 1e-6);                                      // and at its last
}

// Partials without a sound: none or one point, amplitudes at or below zero, and times far
// outside the sound; none of them makes a sample other than zero, or fails.
TEST(Sound, SilentPartialsMakeNoSound) {
  const std::vector<zarn::Resampled> silent = {
      zarn::Resampled{},
      partial(0.1, 0.01, {440}, {0.5}),
      partial(0, 0.01, {440, 440, 440, 440}, {-0.5, -0.5, 0, -0.1}),
      partial(-1e300, 1e299, {440, 440, 440}, {0.5, 0.5, 0.5}),
      partial(1e300, 1e299, {440, 440, 440}, {0.5, 0.5, 0.5}),
      partial(0, 0.01, {22050, 23000, 30000}, {0.5, 0.5, 0.5}),  // at and above half the rate
  };
  for (const zarn::Resampled& p : silent) {
    std::vector<double> out(1000, 0.0);
    zarn::detail::add_partial(p, 0.01, kRate, out);
    EXPECT_EQ(out, std::vector<double>(1000, 0.0));
  }
}

// A glide through half the rate: sounded below the fade band, left out above it; counted.
TEST(Sound, WhatReachesHalfTheRateIsLeftOut) {
  const zarn::ResampledSet set = set_of({partial(0, 0.5, {18000, 26000}, {0.5, 0.5}), partial(0, 0.5, {440, 440}, {0.5, 0.5})}, 0.5);
  EXPECT_EQ(zarn::partials_at_half_rate(set, kRate), 1);
  EXPECT_EQ(zarn::partials_at_half_rate(set, 2 * kRate), 0);
  std::vector<double> out(static_cast<std::size_t>(kRate / 2), 0.0);
  zarn::detail::add_partial(set.partials[0], 0.5, kRate, out);
  // 18000 + 16000 t Hz: below 21609 Hz (the fade band's start) until t = 0.2256 s, at 22050 Hz from t = 0.253 s.
  double loud = 0, above = 0;
  for (std::size_t n = 0; n < out.size(); ++n) {
    const double t = static_cast<double>(n) / kRate;
    if (t > 0.01 && t < 0.22) loud = std::max(loud, std::fabs(out[n]));
    if (t > 0.254) above = std::max(above, std::fabs(out[n]));
  }
  EXPECT_NEAR(loud, 0.5, 0.01);
  EXPECT_EQ(above, 0.0);
}

// The recurrence against sines of the exact phase, on a long fast glide (1 s segments): the
// worst error must stay below -180 dB of the amplitude (it is near -210 dB; without the
// reseeding within a segment it would be near -150 dB).
TEST(Sound, OscillatorErrorIsFarBelowMinus180Decibels) {
  const zarn::Resampled p = partial(0, 1.0, {100, 15000, 50, 8000}, {1, 1, 1, 1});
  std::vector<double> got(3 * kRate + 1, 0.0);
  zarn::detail::add_partial(p, 1.0, kRate, got);
  double worst = 0;
  long double phi = 0;
  for (std::size_t n = 0; n < got.size(); ++n) {
    const long double t = static_cast<long double>(n) / kRate;
    const std::size_t j = std::min<std::size_t>(static_cast<std::size_t>(t), 2);
    const long double d = t - j, k = p.freq[j + 1] - p.freq[j];
    // The phase at t: the exact integral of the linear frequency, from 0 at the start.
    long double at = 0;
    for (std::size_t i = 0; i < j; ++i) at += kPi * (p.freq[i] + p.freq[i + 1]);
    phi = at + 2 * kPi * (p.freq[j] * d + k * d * d / 2);
    const double gain = std::min({1.0, static_cast<double>(t) / 0.005, (3.0 - static_cast<double>(t)) / 0.005});
    worst = std::max(worst, std::fabs(got[n] - gain * static_cast<double>(std::sin(phi))));
  }
  EXPECT_LT(worst, 1e-9);  // -180 dB
  std::printf("worst oscillator error: %.3g (%.1f dB)\n", worst, 20 * std::log10(worst));
}

// A partial that carries its phases sounds as A cos(phase): where the phase is a cubic in time
// throughout, each segment's cubic through its ends' phases and frequencies is that cubic, and
// the sound is the exact cosine (to far below -180 dB), over segments of one second (reseeded
// within them) and of a few milliseconds, rising and falling. (The cubic term stays within
// what the segments' phases can tell: a third of a turn from a linear frequency's.)
TEST(Sound, PhasesMakeTheExactWaveform) {
  struct Case {
    double step, phi0, f0, rate, cubic;  // phase = phi0 + 2 pi (f0 t + rate t^2 / 2 + cubic t^3 / 3)
  };
  for (const Case& c : {Case{1.0, 0.7, 300, 900, -2}, Case{0.0031, -2.9, 5000, -1200, 400}}) {
    SCOPED_TRACE(c.step);
    const auto phase = [&](long double t) { return c.phi0 + 2 * kPi * (c.f0 * t + c.rate * t * t / 2 + c.cubic * t * t * t / 3); };
    zarn::Resampled p;
    for (double t = 0; t <= 2.0 + 1e-9; t += c.step) {
      p.time.push_back(t);
      p.freq.push_back(c.f0 + c.rate * t + c.cubic * t * t);
      p.amp.push_back(0.5);
      p.phase.push_back(zarn::wrap_phase(static_cast<double>(phase(t))));
    }
    std::vector<double> got(static_cast<std::size_t>(p.time.back() * kRate) + 1, 0.0);
    zarn::detail::add_partial(p, c.step, kRate, got);
    double worst = 0;
    for (std::size_t n = 0; n < got.size(); ++n) {
      const double t = static_cast<double>(n) / kRate;
      const double fade = std::min(c.step, 0.005);
      const double gain = std::min({1.0, t / fade, (p.time.back() - t) / fade});
      worst = std::max(worst, std::fabs(got[n] - 0.5 * gain * static_cast<double>(std::cos(phase(static_cast<long double>(n) / kRate)))));
    }
    EXPECT_LT(worst, 1e-9);
  }
}

// The voices run side by side in lanes make the very samples of one voice after another:
// partials starting and ending anywhere (so lanes join and leave mid-block), fading in and
// out, gliding near half the rate, with a segment that is not a number, following their
// phases or not, and more of them than lanes.
TEST(Sound, LanesMakeTheSamplesOfOneVoiceAfterAnother) {
  std::vector<zarn::Resampled> parts;
  std::uint32_t seed = 12345;
  const auto uniform = [&seed](double lo, double hi) {
    seed = seed * 1664525u + 1013904223u;
    return lo + (hi - lo) * static_cast<double>(seed >> 8) / 16777216.0;
  };
  for (int p = 0; p < 21; ++p) {
    const double step = p % 3 == 0 ? 0.0007 : 0.01;
    const auto points = static_cast<std::size_t>(uniform(2, 60));
    std::vector<double> f, a;
    for (std::size_t j = 0; j < points; ++j) {
      f.push_back(p % 7 == 0 ? uniform(21000, 22500) : uniform(50, 9000));
      a.push_back(uniform(-0.05, 0.3));
    }
    if (p == 5) f[points / 2] = std::nan("");
    parts.push_back(partial(uniform(0, 0.4), step, f, a));
    // Some follow their phases (a third product in their lanes), beside some that do not.
    if (p % 2 == 1)
      for (std::size_t j = 0; j < points; ++j) parts.back().phase.push_back(uniform(-kPi, kPi));
  }
  const zarn::ResampledSet set = set_of(parts, 0.01);
  std::vector<double> one_by_one(static_cast<std::size_t>(zarn::sound_length(set, kRate)), 0.0);
  for (const zarn::Resampled& p : set.partials) zarn::detail::add_partial(p, set.step, kRate, one_by_one);
  EXPECT_EQ(zarn::detail::lane_sum(set, kRate), one_by_one);
  const std::vector<float> stream = zarn::render(set, kRate);  // block by block, voices joining and leaving
  ASSERT_EQ(stream.size(), one_by_one.size());
  std::size_t differ = 0;
  for (std::size_t n = 0; n < stream.size(); ++n) differ += stream[n] != static_cast<float>(one_by_one[n]);
  EXPECT_EQ(differ, 0u);
}

#ifdef ZARN_HAVE_SNDFILE
TEST(Sound, FileHoldsEverySampleAsFloat) {
  zarn_test::TempDir dir;
  const std::vector<float> samples = {0.0f, 0.25f, -1.5f, 0.125f};
  for (const char* name : {"s.wav", "s.aiff", "s.caf", "S.WAV", "s.Aif"}) {
    SCOPED_TRACE(name);
    const std::string path = dir / name;
    zarn::check_sound_file_name(path);
    ASSERT_TRUE(zarn::save_new(path, zarn::sound_file_writer(path, samples, 48000)).written());
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(info.samplerate, 48000);
    EXPECT_EQ(info.channels, 1);
    EXPECT_EQ(info.format & SF_FORMAT_SUBMASK, SF_FORMAT_FLOAT);
    std::vector<float> back(8);
    EXPECT_EQ(sf_readf_float(f, back.data(), 8), 4);
    back.resize(4);
    EXPECT_EQ(back, samples);  // beyond full scale too
    sf_close(f);
  }
  // WAV as the common readers take it without a warning: an 18-byte format chunk, then a
  // fact chunk, then the data.
  const std::string wav = zarn_test::slurp(dir / "s.wav");
  EXPECT_EQ(wav.substr(12, 8), std::string("fmt \x12\0\0\0", 8));
  EXPECT_EQ(wav.substr(38, 4), "fact");
  EXPECT_EQ(wav.substr(50, 4), "data");
  EXPECT_EQ(wav.size(), 58u + 16u);
}

// --residual: the sound analysed less its partials, locked to their phases, at its own rate
// and length, whatever the sound made of the result is (another rate, an edit): the partials'
// sound and the residual add up to the recording, and the residual is far quieter than it (the
// sines took most of it away). A partial list has no sound to leave a residual of.
TEST(Sound, ResidualAndPartialsAddUpToTheRecording) {
  zarn_test::TempDir dir;
  const int rate = 22050;
  std::vector<float> x(static_cast<std::size_t>(0.8 * rate));
  std::uint32_t seed = 7;
  for (std::size_t n = 0; n < x.size(); ++n) {
    const double t = static_cast<double>(n) / rate;
    seed = seed * 1664525u + 1013904223u;
    x[n] = static_cast<float>(0.4 * std::cos(2 * kPi * 330 * t + 1.0) + 0.2 * std::cos(2 * kPi * (990 * t + 40 * t * t)) +
                              1e-3 * (static_cast<double>(seed >> 8) / 8388608.0 - 1));
  }
  ASSERT_TRUE(zarn::save_new(dir / "in.wav", zarn::sound_file_writer(dir / "in.wav", x, rate)).written());
  const auto read_back = [&](const std::string& name, int& at) {
    SF_INFO info{};
    SNDFILE* f = sf_open((dir / name).c_str(), SFM_READ, &info);
    std::vector<double> v(static_cast<std::size_t>(f != nullptr ? info.frames : 0));
    if (f != nullptr) sf_readf_double(f, v.data(), info.frames), sf_close(f);
    at = info.samplerate;
    return v;
  };
  ASSERT_EQ(zarn_test::run_zarn({"-q", "--no-noise", "-o", "p.txt", "--wav=s.wav", "--residual=r.wav", "in.wav", "0.005"}, dir.path()).status, 0);
  ASSERT_EQ(zarn_test::run_zarn({"-q", "--transpose=150", "--rate=8000", "-o", "q.txt", "--wav=q.wav", "--residual=r2.wav", "in.wav", "0.005"}, dir.path()).status, 0);
  int s_rate = 0, r_rate = 0, r2_rate = 0;
  const std::vector<double> sines = read_back("s.wav", s_rate), residual = read_back("r.wav", r_rate);
  EXPECT_EQ(r_rate, rate);
  ASSERT_EQ(residual.size(), x.size());
  ASSERT_EQ(sines.size(), x.size());
  double signal = 0, inner = 0, left = 0, sum_error = 0;
  for (std::size_t n = 0; n < x.size(); ++n) {
    signal += static_cast<double>(x[n]) * x[n];
    sum_error += (sines[n] + residual[n] - x[n]) * (sines[n] + residual[n] - x[n]);
    if (n < x.size() / 8 || n > x.size() * 7 / 8) continue;  // away from the partials' ends
    inner += static_cast<double>(x[n]) * x[n];
    left += residual[n] * residual[n];
  }
  EXPECT_LT(10 * std::log10(sum_error / signal), -120);
  EXPECT_LT(10 * std::log10(left / inner), -30);
  EXPECT_EQ(read_back("r2.wav", r2_rate), residual);  // before the edit, at the input's rate
  EXPECT_EQ(r2_rate, rate);
  const zarn_test::RunResult list = zarn_test::run_zarn({"-q", "-o", "l.txt", "--residual=l.wav", "p.txt"}, dir.path());
  EXPECT_EQ(list.status, 1);
  EXPECT_NE(list.err.find("--residual applies to sounds only"), std::string::npos) << list.err;
  EXPECT_FALSE(zarn_test::exists(dir / "l.wav"));
}

// Every depth reads back as asked: the integers within the dither's step of the sound, the
// floats exactly.
TEST(Sound, DepthsReadBackAsAsked) {
  zarn_test::TempDir dir;
  const std::vector<float> samples = {0.0f, 0.25f, -0.5f, 0.125f, 0.999f, -1.5f, 1.0f, 2.0f};  // full scale never wraps
  const struct {
    const char* name;
    zarn::SampleDepth depth;
    int subtype;
    double step;
  } cases[] = {
      {"a.wav", zarn::SampleDepth::k16, SF_FORMAT_PCM_16, 1.0 / 32768},
      {"b.wav", zarn::SampleDepth::k24, SF_FORMAT_PCM_24, 1.0 / 8388608},
      {"c.wav", zarn::SampleDepth::k32, SF_FORMAT_PCM_32, 1.0 / 2147483648.0},
      {"d.aiff", zarn::SampleDepth::k16, SF_FORMAT_PCM_16, 1.0 / 32768},
      {"e.flac", zarn::SampleDepth::kDefault, SF_FORMAT_PCM_24, 1.0 / 8388608},
      {"f.caf", zarn::SampleDepth::kFloat, SF_FORMAT_FLOAT, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir / c.name;
    zarn::check_sound_file_name(path, c.depth);
    ASSERT_TRUE(zarn::save_new(path, zarn::sound_file_writer(path, samples, 8000, c.depth)).written());
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(info.format & SF_FORMAT_SUBMASK, c.subtype);
    std::vector<double> back(samples.size());
    EXPECT_EQ(sf_readf_double(f, back.data(), static_cast<sf_count_t>(back.size())), static_cast<sf_count_t>(back.size()));
    sf_close(f);
    for (std::size_t i = 0; i < samples.size(); ++i) {
      const double want = c.step > 0 ? std::clamp(static_cast<double>(samples[i]), -1.0, 1.0) : samples[i];
      EXPECT_NEAR(back[i], want, 2 * c.step) << i;  // clipped at full scale, and a step of dither each way
    }
  }
  for (const char* bad : {"x.flac"}) EXPECT_THROW(zarn::check_sound_file_name(bad, zarn::SampleDepth::kFloat), zarn::Failure);
  EXPECT_THROW(zarn::check_sound_file_name("x.ogg", zarn::SampleDepth::k16), zarn::Failure);
  EXPECT_THROW(zarn::check_sound_file_name("x.opus", zarn::SampleDepth::kDefault, 44100), zarn::Failure);
  EXPECT_THROW(zarn::check_sound_file_name("x.mp3"), zarn::Failure);
  EXPECT_EQ(zarn::depth_named("24"), zarn::SampleDepth::k24);
  EXPECT_EQ(zarn::depth_named("8"), zarn::SampleDepth::kDefault);
}
#endif

// Integers are dithered with a triangular density of a step each way: no bias, an error of a
// quarter of a step squared, and never more than a step and a half from the value; a chunk
// of an odd size is padded to an even one.
TEST(Sound, DitherAndPadding) {
  const std::vector<float> constant(100000, static_cast<float>(0.3 / 32768));
  std::string bytes;
  {
    zarn::Output out(&bytes);
    zarn::detail::put_wav(out, zarn::samples_of(constant), 8000, zarn::SampleDepth::k16);
    out.flush();
  }
  ASSERT_EQ(bytes.size(), 44 + 2 * constant.size());
  double sum = 0, squares = 0;
  for (std::size_t i = 0; i < constant.size(); ++i) {
    const auto v = static_cast<std::int16_t>(static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[44 + 2 * i]) |
                                                                         static_cast<unsigned char>(bytes[45 + 2 * i]) << 8));
    ASSERT_GE(v, -1);
    ASSERT_LE(v, 2);
    sum += v;
    squares += (v - 0.3) * (v - 0.3);
  }
  const double n = static_cast<double>(constant.size());
  EXPECT_NEAR(sum / n, 0.3, 0.01);
  EXPECT_NEAR(squares / n, 0.25, 0.02);
  bytes.clear();
  {
    zarn::Output out(&bytes);
    zarn::detail::put_wav(out, zarn::samples_of(std::vector<float>(5, 0.5f)), 8000, zarn::SampleDepth::k24);
    out.flush();
  }
  EXPECT_EQ(bytes.size(), 44u + 15u + 1u);
  EXPECT_EQ(bytes.back(), '\0');
  const auto riff = static_cast<std::size_t>(static_cast<unsigned char>(bytes[4]) | static_cast<unsigned char>(bytes[5]) << 8);
  EXPECT_EQ(riff, bytes.size() - 8);
}

// A sound's size is checked before any of it is made: what its container's sizes hold, an
// empty sound where the container cannot be empty, and the free space of the folder.
TEST(Sound, SizeCheckedBeforeAnySample) {
  zarn_test::TempDir dir;
  const struct {
    std::string name;
    double frames;
    zarn::SampleDepth depth;
    std::string message;  // its start; empty: accepted
  } cases[] = {
      {"-", 1e6, zarn::SampleDepth::kDefault, ""},
      {"-", 1.1e9, zarn::SampleDepth::kDefault, "zarn: standard output: a sound of 1100000000 samples (6.9 hours at 44100 Hz) takes more than the 4 GiB a .wav file holds"},
      {"-", 1.1e9, zarn::SampleDepth::k16, ""},
      {"-", 1e84, zarn::SampleDepth::k16, "zarn: standard output: a sound of 1e+84 samples (6.3e+75 hours at 44100 Hz) takes more"},
      {"-", 9999999999999998.0, zarn::SampleDepth::k16, "zarn: standard output: a sound of 9999999999999998 samples"},
      {dir / "a.wav", 0, zarn::SampleDepth::kDefault, ""},
#ifdef ZARN_HAVE_SNDFILE
      {dir / "a.aiff", 0, zarn::SampleDepth::kDefault, "zarn: " + dir / "a.aiff" + ": the result holds no sound (no partial has a point)"},
      {dir / "a.flac", 0, zarn::SampleDepth::kDefault, "zarn: " + dir / "a.flac" + ": the result holds no sound"},
      {dir / "a.caf", 0, zarn::SampleDepth::kDefault, ""},
      {dir / "a.caf", 1e15, zarn::SampleDepth::kDefault, "zarn: " + dir / "a.caf" + ": a sound of 1000000000000000 samples"},
      {dir / "a.aiff", 2e9, zarn::SampleDepth::k24, "zarn: " + dir / "a.aiff" + ": a sound of 2000000000 samples (12.6 hours at 44100 Hz) takes more than the 4 GiB"},
#endif
  };
  for (const auto& c : cases) {
    std::string message;
    try {
      zarn::check_sound_size(c.name, c.frames, 44100, c.depth);
    } catch (const zarn::Failure& f) {
      message = f.message;
    }
    EXPECT_EQ(message.substr(0, c.message.size()), c.message) << c.name;
    EXPECT_EQ(message.empty(), c.message.empty()) << message;
  }
  EXPECT_EQ(zarn::sound_length(set_of({partial(0.5, 0.1, {440, 440}, {0.1, 0.1})}, 0.1), 1000), 601);  // samples 0 to 600
  EXPECT_EQ(zarn::sound_length(set_of({}, 0.1), 1000), 0);
}

TEST(Sound, NormalizeToThePeakAsked) {
  std::vector<float> samples = {0.1f, -0.4f, 0.2f};
  EXPECT_NEAR(zarn::normalize(samples, -6.0), 20 * std::log10(std::pow(10, -6.0 / 20) / 0.4), 1e-6);
  EXPECT_NEAR(zarn::peak(samples), std::pow(10, -6.0 / 20), 1e-6);
  std::vector<float> silence(4, 0.0f);
  EXPECT_EQ(zarn::normalize(silence, -1), 0);
  EXPECT_EQ(silence, std::vector<float>(4, 0.0f));
}

}  // namespace

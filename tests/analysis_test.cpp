// The analysis of sounds: calibration, moving partials, tracking, silence, streaming, channels
// and refusals, on sounds made here.
#include "analysis/analysis.hpp"

#include <algorithm>
#include <cmath>
#include <complex>
#include <functional>
#include <numeric>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "model/failure.hpp"
#include "formats/formats.hpp"
#include "io/output.hpp"
#include "run_binary.hpp"
#include "fit/resample.hpp"
#include "render/sound.hpp"
#include "render/sound_file.hpp"
#include "support.hpp"

namespace {

constexpr double kPi = 3.14159265358979323846;

using zarn_test::tone;

double cents(double f, double g) { return 1200 * std::log2(f / g); }

// The breakpoints of a partial away from its ends, where the window sees all of it.
template <typename Check>
void each_inner(const zarn::Partial& p, Check check) {
  for (std::size_t i = 3; i + 3 < p.time.size(); ++i) check(p.time[i], p.freq[i], p.amp[i]);
}

// A sine of amplitude A reads back as A at its frequency, whatever the rate and the
// resolution (and so the window).
TEST(Analysis, CalibratedAtEveryRateAndResolution) {
  const struct {
    double rate, resolution, amp;
  } cases[] = {{44100, 40, 0.5}, {44100, 20, 0.1}, {22050, 80, 0.01}, {48000, 40, 0.9}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rate);
    const auto x = tone(c.rate, 1.0, {{[](double) { return 1234.5; }, c.amp}});
    zarn::AnalysisOptions o;
    o.resolution = c.resolution;
    const zarn::PartialSet set = zarn::analyse(x.data(), x.size(), c.rate, o);
    ASSERT_EQ(set.P(), 1);
    each_inner(set.partials[0], [&](double, double f, double a) {
      EXPECT_NEAR(cents(f, 1234.5), 0, 0.5);
      EXPECT_NEAR(20 * std::log10(a / c.amp), 0, 0.05);
    });
  }
}

// Glissandos and a vibrato: followed to a cent or two, as one partial (high up, a glissando
// moves further from frame to frame than half the resolution), and in the median to half a
// cent.
TEST(Analysis, MovingPartialsKeepTheirPitch) {
  const struct {
    const char* what;
    double (*freq)(double);
    double worst, median;  // cents
  } cases[] = {
      {"glissando", [](double t) { return 440 * std::pow(2.0, t); }, 1.5, 0.5},
      {"vibrato", [](double t) { return 660 * (1 + 0.01 * std::sin(2 * kPi * 5.5 * t)); }, 1.5, 0.5},
      {"glissando at 6 kHz", [](double t) { return 6000 * std::pow(2.0, 0.5 * t); }, 1.5, 0.5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto x = tone(44100, 1.0, {{c.freq, 0.3}});
    const zarn::PartialSet set = zarn::analyse(x.data(), x.size(), 44100, {});
    ASSERT_EQ(set.P(), 1);
    std::vector<double> errors;
    each_inner(set.partials[0], [&](double t, double f, double a) {
      EXPECT_NEAR(cents(f, c.freq(t)), 0, c.worst) << t;
      EXPECT_NEAR(20 * std::log10(a / 0.3), 0, 0.3) << t;
      errors.push_back(std::fabs(cents(f, c.freq(t))));
    });
    std::nth_element(errors.begin(), errors.begin() + static_cast<std::ptrdiff_t>(errors.size() / 2), errors.end());
    EXPECT_LE(errors[errors.size() / 2], c.median);
  }
}

// A linear glide is one partial at its frequency and level, rising or falling, however fast its
// sweep through one window (up to 375 Hz at 5 kHz a second): its bins reassign to one line.
TEST(Analysis, LinearGlidesAreOnePartial) {
  const struct {
    double from, rate;  // Hz, Hz a second
  } cases[] = {{500, 625}, {500, 2500}, {3500, -2500}, {600, 5000}, {5600, -5000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rate);
    const auto freq = [&c](double t) { return c.from + c.rate * t; };
    const auto x = tone(44100, 1.0, {{freq, 0.3}});
    const zarn::PartialSet set = zarn::analyse(x.data(), x.size(), 44100, {});
    ASSERT_EQ(set.P(), 1);
    const zarn::Partial& p = set.partials[0];
    EXPECT_LT(p.time.front(), 0.02);
    EXPECT_GT(p.time.back(), 0.97);
    each_inner(p, [&](double t, double f, double a) {
      EXPECT_NEAR(cents(f, freq(t)), 0, 5) << t;
      EXPECT_NEAR(20 * std::log10(a / 0.3), 0, 0.5) << t;
    });
  }
}

// A voice whose harmonics rise half an octave in 0.1 s (242 to 375 Hz, as a question's last
// syllable does), their levels shaped by three formants (700, 1,200 and 2,500 Hz), keeps its
// partials through the rise: their power there within 1.5 dB of the sound's (taken for a step
// from note to note, the rise was analysed plain and lost 2.3 dB; its resynthesis 3.5). The
// warp follows it as a glide.
TEST(Analysis, AVoiceRisingHalfAnOctaveKeepsItsPartials) {
  constexpr double kRate = 16000;
  const auto f0 = [](double t) { return t < 0.3 ? 242.0 : t < 0.4 ? 242 * std::pow(375.0 / 242, (t - 0.3) / 0.1) : 375.0; };
  const auto level = [](double f) {
    const auto bump = [f](double centre, double width) { return std::exp(-((f - centre) / width) * ((f - centre) / width)); };
    return f < 0.5 * kRate ? 0.1 * (bump(700, 400) + 0.5 * bump(1200, 300) + 0.3 * bump(2500, 500) + 0.02) : 0.0;
  };
  std::vector<double> x(static_cast<std::size_t>(0.6 * kRate));
  double phase = 0, truth = 0;
  int truths = 0;
  for (std::size_t i = 0; i < x.size(); ++i) {
    const double t = static_cast<double>(i) / kRate;
    phase += 2 * kPi * f0(t) / kRate;
    const double fade = std::min({1.0, t / 0.02, (0.6 - t) / 0.05});
    for (int h = 1; h < 20; ++h) x[i] += fade * level(h * f0(t)) * std::sin(h * phase);
    if (t >= 0.3 && t < 0.4 && i % 80 == 0) {
      for (int h = 1; h < 20; ++h) truth += 0.5 * level(h * f0(t)) * level(h * f0(t));
      ++truths;
    }
  }
  const zarn::PartialSet set = zarn::analyse(x.data(), x.size(), kRate, {});
  double power = 0;
  int times = 0;
  for (double t = 0.3; t < 0.4; t += 0.005, ++times)
    for (const zarn::Partial& p : set.partials)
      for (std::size_t j = 1; j < p.time.size(); ++j)
        if (p.time[j - 1] <= t && t < p.time[j]) {
          const double a = p.amp[j - 1] + (p.amp[j] - p.amp[j - 1]) * (t - p.time[j - 1]) / (p.time[j] - p.time[j - 1]);
          power += 0.5 * a * a;
        }
  EXPECT_NEAR(10 * std::log10((power / times) / (truth / truths)), 0, 1.5);
}

// Two partials that cross, each predicted from its own motion, stay two whole partials; a
// dropout of a few milliseconds is bridged.
TEST(Analysis, TracksThroughACrossingAndAGap) {
  double (*const up)(double) = [](double t) { return 500 + 400 * t; };
  double (*const down)(double) = [](double t) { return 900 - 400 * t; };
  auto x = tone(44100, 1.0, {{up, 0.3}, {down, 0.2}});
  const zarn::PartialSet crossing = zarn::analyse(x.data(), x.size(), 44100, {});
  ASSERT_EQ(crossing.P(), 2);
  for (const zarn::Partial& p : crossing.partials) {
    EXPECT_LT(p.time.front(), 0.05);
    EXPECT_GT(p.time.back(), 0.95);
    const bool rising = p.freq.back() > p.freq.front();
    each_inner(p, [&](double t, double f, double) {
      if (std::fabs(t - 0.5) > 0.1) {  // away from the crossing
        EXPECT_NEAR(f, rising ? up(t) : down(t), 2.0) << t;
      }
    });
  }
  x = tone(44100, 1.0, {{[](double) { return 880.0; }, 0.3}});
  for (std::size_t i = 22050; i < 22050 + 441; ++i) x[i] = 0;  // 10 ms of silence
  EXPECT_EQ(zarn::analyse(x.data(), x.size(), 44100, {}).P(), 1);
}

// Forty harmonics of 80 Hz, two resolutions apart: each stands out of the noise that the
// lobes of its neighbours make, and is found whole.
TEST(Analysis, DenseHarmonicsAreEachFound) {
  std::vector<double> x(44100, 0.0);
  for (int k = 1; k <= 40; ++k)
    for (std::size_t i = 0; i < x.size(); ++i) x[i] += 0.02 * std::sin(2 * kPi * 80 * k * static_cast<double>(i) / 44100 + k);
  const zarn::PartialSet set = zarn::analyse(x.data(), x.size(), 44100, {});
  ASSERT_EQ(set.P(), 40);
  for (const zarn::Partial& p : set.partials) EXPECT_GT(p.time.back() - p.time.front(), 0.8);
}

// A partial starts where its sound starts, within 2 ms of a 1 ms attack, and stops within 2 ms
// of where it stops, at its level; one that sounds from the sound's start to its end spans it.
TEST(Analysis, PartialsStartAndStopOnTime) {
  const struct {
    double freq, start, stop;
  } cases[] = {{523.25, 0.1, 0.6}, {784, 0.337, 0.9}, {1318.5, 0.5, 0.77}, {2093, 0.0, 1.0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.freq);
    std::vector<double> x(44100, 0.0);
    for (std::size_t i = 0; i < x.size(); ++i) {
      const double t = static_cast<double>(i) / 44100;
      if (t < c.start || t >= c.stop) continue;
      const double attack = std::min(1.0, (t - c.start) / 0.001);
      x[i] = 0.2 * attack * std::sin(2 * kPi * c.freq * (t - c.start));
    }
    const zarn::PartialSet set = zarn::analyse(x.data(), x.size(), 44100, {});
    ASSERT_EQ(set.P(), 1);
    const zarn::Partial& p = set.partials[0];
    EXPECT_NEAR(p.time.front(), c.start, 0.002);
    EXPECT_NEAR(p.time.back(), std::min(c.stop, 44099.0 / 44100), 0.002);
    EXPECT_NEAR(20 * std::log10(p.amp.front() / 0.2), 0, 1.0);
    EXPECT_NEAR(20 * std::log10(p.amp.back() / 0.2), 0, 1.0);
  }
}

// Silence has no partials; the sound may come in blocks of any size.
TEST(Analysis, SilenceAndBlocks) {
  const std::vector<double> silence(44100, 0.0);
  EXPECT_EQ(zarn::analyse(silence.data(), silence.size(), 44100, {}).P(), 0);
  const auto x = tone(44100, 0.5, {{[](double) { return 440.0; }, 0.3}, {[](double) { return 1000.0; }, 0.1}});
  const zarn::PartialSet whole = zarn::analyse(x.data(), x.size(), 44100, {});
  for (std::size_t block : {1, 1000, 4096}) {
    zarn::Analyser a(44100, {});
    for (std::size_t i = 0; i < x.size(); i += block) a.add(x.data() + i, std::min(block, x.size() - i));
    const zarn::PartialSet parts = a.finish();
    ASSERT_EQ(parts.P(), whole.P());
    for (std::size_t p = 0; p < parts.partials.size(); ++p) EXPECT_EQ(zarn_test::points(parts.partials[p]), zarn_test::points(whole.partials[p]));
  }
}

// Noise quieter than the floor is silence, and a silence of any length keeps a few frames:
// bursts of noise around 60 s of a dither below -90 dB keep their frames, the silence between
// them is silent wherever it is asked, and the noise after the last burst reaches as far as a
// hop of it does.
TEST(Analysis, NoiseOfASilenceTakesFewFrames) {
  std::uint64_t state = 12345;
  const auto white = [&] {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<double>(state >> 11) / 9007199254740992.0 - 0.5;
  };
  const double rate = 8000;
  for (const double silent : {5.0, 60.0}) {
    std::vector<double> x;
    for (double t = 0; t < 1 + silent + 1; t += 1 / rate) x.push_back((t < 1 || t >= 1 + silent ? 0.2 : 2.0 / 32768) * white());
    const zarn::PartialSet set = zarn::analyse(x.data(), x.size(), rate, {});
    const zarn::Noise& n = set.noise;
    ASSERT_GE(n.times.size(), 3u);
    // The bursts' frames, a hop apart (about 19 ms), and a few for the silence.
    EXPECT_LT(n.times.size(), 2 * 1.2 / set.hop + 8) << silent;
    std::vector<double> bands(n.bands());
    const auto total = [&](double t) {
      n.at(t, bands.data());
      return std::accumulate(bands.begin(), bands.end(), 0.0);
    };
    EXPECT_GT(total(0.5), 1e-4);
    EXPECT_GT(total(1.5 + silent), 1e-4);
    for (double t = 1.2; t < 0.8 + silent; t += 0.25) EXPECT_EQ(total(t), 0.0) << t;
    // The first quiet frame after the burst keeps what it measured: it lies next to a sound.
    std::size_t j = 0;
    while (j < n.times.size() && (n.times[j] < 1 || std::accumulate(n.frame(j), n.frame(j) + n.bands(), 0.0) >= 1e-9)) ++j;
    ASSERT_LT(j, n.times.size());
    EXPECT_GT(std::accumulate(n.frame(j), n.frame(j) + n.bands(), 0.0), 0.0) << n.times[j];
    EXPECT_EQ(n.times[1] - n.times[0], set.hop);
    EXPECT_NEAR(n.times[n.times.size() - 1] - n.times[n.times.size() - 2], set.hop, 1e-9);
  }
}

#if defined(ZARN_HAVE_SNDFILE)
// A stereo 16-bit WAV file with a tone in each channel.
std::string stereo(double left, double right) {
  const std::size_t n = 22050;
  std::string w = "RIFF" + std::string(4, '\0') + "WAVEfmt " + std::string("\x10\0\0\0\x01\0\x02\0", 8);
  const auto le = [&](std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) w += static_cast<char>(v >> (8 * i));
  };
  le(44100, 4), le(44100 * 4, 4), le(4, 2), le(16, 2);
  w += "data";
  le(static_cast<std::uint32_t>(4 * n), 4);
  for (std::size_t i = 0; i < n; ++i)
    for (double f : {left, right}) le(static_cast<std::uint16_t>(std::lround(8000 * std::sin(2 * kPi * f * static_cast<double>(i) / 44100))), 2);
  return w;
}

TEST(Analysis, SoundFilesTheirChannelsAndRefusals) {
  const std::string file = stereo(440, 660);
  zarn::ReadOptions mixed;
  const zarn::PartialSet both = zarn::read_input(file, "two.wav", mixed);
  ASSERT_EQ(both.P(), 2);
  // The channels' mean: each tone at half its amplitude of 8000 / 32768.
  for (const zarn::Partial& p : both.partials) EXPECT_NEAR(p.amp[5], 0.5 * 8000 / 32768, 0.002);
  zarn::ReadOptions second;
  second.sound.channel = 2;
  second.sound_options = {"--channel"};
  const zarn::PartialSet right = zarn::read_input(file, "two.wav", second);
  ASSERT_EQ(right.P(), 1);
  EXPECT_NEAR(right.partials[0].freq[5], 660, 0.1);
  EXPECT_EQ(right.places, zarn::PartialSet::Places::kSeconds);
  zarn::ReadOptions third = second;
  third.sound.channel = 3;
  EXPECT_EQ(zarn_test::rejection_with(file, "two.wav", third),
            "zarn: two.wav: --channel=3 asks for a channel this sound lacks: it has 2\n");
  EXPECT_EQ(zarn_test::rejection_with("( PARTIALS 0 )", "in.txt", second), "zarn: in.txt is no sound file: --channel applies to sounds only\n");
  second.sound_options = {"--no-warp", "--hop", "--floor"};  // the options given, and only they, named
  EXPECT_EQ(zarn_test::rejection_with("( PARTIALS 0 )", "in.txt", second),
            "zarn: in.txt is no sound file: --no-warp, --hop and --floor apply to sounds only\n");
  EXPECT_EQ(zarn_test::rejection_with(file.substr(0, 40), "cut.wav", mixed).substr(0, 45), "zarn: cut.wav: cannot be decoded as a sound: ");
  // A file cut short past its header: what it holds is analysed, and it is said to be damaged;
  // a whole one is not.
  EXPECT_EQ(both.damaged, "");
  const zarn::PartialSet cut = zarn::read_input(file.substr(0, 44 + 4 * 11025), "cut.wav", mixed);
  EXPECT_EQ(cut.P(), 2);
  EXPECT_EQ(cut.samples, 11025);
  EXPECT_EQ(cut.damaged, "is cut short: its header gives it more sound than the file holds; the 0.250 s it holds were analysed");
  // Cut shorter than the window: refused, and said to be cut short, not only too short.
  const std::string refused = zarn_test::rejection_with(file.substr(0, 44 + 4 * 1000), "cut.wav", mixed);
  EXPECT_NE(refused.find("is shorter than the analysis window"), std::string::npos) << refused;
  EXPECT_NE(refused.find("(the file is cut short: its header gives it more sound than it holds)\n"), std::string::npos) << refused;

  // A sound that starts part-way into its file (standard input after another program read
  // some of it) is decoded from there.
  zarn_test::TempDir dir;
  zarn_test::spill(dir / "late.wav", "skip this!" + file);
  const int fd = ::open((dir / "late.wav").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::lseek(fd, 10, SEEK_SET), 10);
  EXPECT_EQ(zarn::read_input(fd, "standard input", mixed).P(), 2);
  ::close(fd);

  // Samples that are not numbers, and a sound shorter than the window, are refused with the
  // place and the reason.
  std::vector<float> samples(22050, 0.0f);
  samples[2205] = NAN;
  std::string bytes;
  {
    zarn::Output out(&bytes);
    zarn::detail::put_float_wav(out, samples, 44100);
    out.flush();
  }
  EXPECT_EQ(zarn_test::rejection_with(bytes, "nan.wav", mixed), "zarn: nan.wav: sample 2205 (at 0.050000 s) is not a finite number\n");
  bytes.clear();
  {
    zarn::Output out(&bytes);
    zarn::detail::put_float_wav(out, std::vector<float>(441, 0.1f), 44100);
    out.flush();
  }
  EXPECT_EQ(zarn_test::rejection_with(bytes, "short.wav", mixed),
            "zarn: short.wav: the sound (0.01 s) is shorter than the analysis window (0.07503 s at --resolution=40): "
            "--resolution=300 or coarser gives a window it fills\n");
}
#endif

// Options, rates and lengths that the analysis refuses, each with its reason.
TEST(Analysis, OptionsThatCannotBeUsed) {
  const auto with = [](double resolution, double hop) {
    zarn::AnalysisOptions o;
    o.resolution = resolution;
    o.hop = hop;
    return o;
  };
  const struct {
    zarn::AnalysisOptions options;
    double rate;
    long long frames;
    const char* problem;  // its start; empty: none
  } cases[] = {
      {{}, 44100, -1, ""},
      {{}, 44100, 3309, ""},  // the window (3309 samples at 40 Hz) exactly
      {with(0.001, 0), 44100, -1, "--resolution is too fine"},
      {with(40, 1e-9), 44100, -1, "--hop must be at least one sample"},
      {with(40, 0.0751), 44100, -1, "--hop must be at most the analysis window, 3309 samples (0.07503 s)"},
      {with(40, 1e18), 44100, -1, "--hop must be at most the analysis window"},
      {{}, 0, -1, "the sound's sample rate must be above zero"},
      {{}, 67e6, -1, "a sample rate of 67000000 Hz is beyond what zarn analyses"},
      {{}, 1e300, -1, "a sample rate of 1e+300 Hz is beyond what zarn analyses"},  // past what an integer holds
      {{}, 44100, 441, "the sound (0.01 s) is shorter than the analysis window (0.07503 s at --resolution=40): --resolution=300 or coarser"},
      {{}, 44100, 0, "the sound (0 s) is shorter than the analysis window"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.problem);
    const std::string problem = zarn::analysis_problem(c.options, c.rate, c.frames);
    EXPECT_EQ(problem.substr(0, std::string(c.problem).size()), c.problem);
    EXPECT_EQ(problem.empty(), std::string(c.problem).empty());
  }
}

// --min-track bounds each partial's duration as written (a burst of 0.09 s is tracked over
// more frames than that, but written shorter); no partial goes below 4 Hz.
TEST(Analysis, WrittenPartialsKeepTheirBounds) {
  std::vector<double> x(44100, 0.0);
  for (const auto& [start, length] : {std::pair<double, double>{0.1, 0.09}, {0.6, 0.15}})
    for (std::size_t i = static_cast<std::size_t>(start * 44100); i < static_cast<std::size_t>((start + length) * 44100); ++i)
      x[i] += 0.3 * std::sin(2 * kPi * 700 * static_cast<double>(i) / 44100);
  zarn::AnalysisOptions o;
  o.min_track = 0.1;
  const zarn::PartialSet set = zarn::analyse(x.data(), x.size(), 44100, o);
  ASSERT_EQ(set.P(), 1);
  EXPECT_GE(set.partials[0].time.back() - set.partials[0].time.front(), 0.1);
  const auto low = tone(8000, 4.0, {{[](double) { return 3.0; }, 0.5}});
  o = {};
  o.resolution = 3;  // fine enough to find a partial at 3 Hz
  for (const zarn::Partial& p : zarn::analyse(low.data(), low.size(), 8000, o).partials)
    for (double f : p.freq) EXPECT_GE(f, zarn::kMinFreq);
}

}  // namespace

// Each breakpoint carries the phase its partial has there: sounded with its phases, the
// analysis is the signal's waveform, not only its spectrum. A steady pair of tones, a glide
// and a tone dying away off a bin's frequency (whose window leans towards its energy's centre,
// turning the peak bin's phase) all come back far above the waveform SNR that phases left to
// run from 0 give (about 0 dB), away from the ends' fades.
TEST(Analysis, PhasesMakeTheWaveform) {
  constexpr double kRate = 44100;
  struct Case {
    const char* what;
    std::function<double(double)> x;
    double least_db;
  };
  const Case cases[] = {
      {"two tones", [](double t) { return 0.5 * std::cos(2 * M_PI * 440 * t + 0.3) + 0.2 * std::cos(2 * M_PI * 1000 * t - 2.0); }, 40},
      {"a glide", [](double t) { return 0.4 * std::cos(2 * M_PI * (700 * t + 150 * t * t) + 1.2); }, 25},
      {"dying away", [](double t) { return 0.6 * std::exp(-15 * t) * std::cos(2 * M_PI * 523.3 * t + 2.5); }, 30},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<double> x(static_cast<std::size_t>(1.5 * kRate));
    for (std::size_t n = 0; n < x.size(); ++n) x[n] = c.x(static_cast<double>(n) / kRate);
    zarn::AnalysisOptions options;
    options.noise = false;
    zarn::PartialSet set = zarn::analyse(x.data(), x.size(), kRate, options);
    for (const zarn::Partial& p : set.partials) ASSERT_TRUE(zarn::has_phase(p));
    const zarn::GridPlan plan = zarn::plan_grid(set, 0.005, zarn::GridKind::kOwn, "x");
    const zarn::ResampledSet grid = zarn::resample_releasing(set, plan, zarn::Fit::kMonotone);
    const std::vector<float> y = zarn::render(grid, static_cast<int>(kRate));
    double signal = 0, error = 0;
    for (std::size_t n = static_cast<std::size_t>(0.1 * kRate); n < static_cast<std::size_t>(1.4 * kRate) && n < y.size(); ++n) {
      signal += x[n] * x[n];
      error += (x[n] - y[n]) * (x[n] - y[n]);
    }
    EXPECT_GT(10 * std::log10(signal / error), c.least_db);
  }
}

// A frame warped by a voice's vibrato holds the sound's frequencies over its ratio, a band
// limit too: its noise is measured on bands moved with them, so noise band-limited at 6 kHz
// beside a sung tone stays under the limit (a frame's bands laid in its own time put the
// limit's edge into the band above: 25 dB under the band below where it should be 37).
TEST(Analysis, NoiseKeepsItsBandLimitInWarpedFrames) {
  constexpr double kRate = 44100;
  const std::size_t n = static_cast<std::size_t>(2.0 * kRate);
  std::vector<double> noise(n);
  std::mt19937_64 rng(11);
  std::normal_distribution<double> white(0, 0.05);
  for (double& v : noise) v = white(rng);
  // Band-limited at 6 kHz: a windowed sinc of 5.6 kHz, 401 taps (its stop band from 6 kHz).
  const int half = 200;
  std::vector<double> taps(2 * half + 1);
  for (int k = -half; k <= half; ++k) {
    const double fc = 5600 / kRate, w = 0.42 + 0.5 * std::cos(M_PI * k / half) + 0.08 * std::cos(2 * M_PI * k / half);
    taps[static_cast<std::size_t>(k + half)] = (k == 0 ? 2 * fc : std::sin(2 * M_PI * fc * k) / (M_PI * k)) * w;
  }
  std::vector<double> limited(n, 0.0);
  for (std::size_t i = 0; i < n; ++i)
    for (int k = -half; k <= half; ++k)
      if (i + static_cast<std::size_t>(k + half) >= static_cast<std::size_t>(half) && i + static_cast<std::size_t>(k + half) - static_cast<std::size_t>(half) < n)
        limited[i] += taps[static_cast<std::size_t>(k + half)] * noise[i + static_cast<std::size_t>(k + half) - static_cast<std::size_t>(half)];
  std::vector<double> x(n);
  double phase = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const double t = static_cast<double>(i) / kRate, f0 = 220 * (1 + 0.06 * std::sin(2 * M_PI * 5.5 * t));
    phase += 2 * M_PI * f0 / kRate;
    double v = 0;
    for (int h = 1; h <= 10; ++h) v += 0.3 / h * std::sin(h * phase);
    x[i] = v + limited[i];
  }
  const zarn::PartialSet set = zarn::analyse(x.data(), n, kRate, zarn::AnalysisOptions{});
  // The band just above the limit (5850-6125 Hz, kept apart where the spectrum is steep)
  // against the band below it that the noise fills (4400-5300 Hz).
  const zarn::Noise& found = set.noise;
  const auto band_power = [&](double from) {
    const auto b = static_cast<std::size_t>(std::find(found.edges.begin(), found.edges.end(), from) - found.edges.begin());
    EXPECT_LT(b, found.bands()) << from;
    double sum = 0;
    for (std::size_t j = 0; j < found.times.size() && b < found.bands(); ++j) sum += found.frame(j)[b];
    return sum;
  };
  EXPECT_LT(10 * std::log10(band_power(5850) / band_power(4400)), -30);
}

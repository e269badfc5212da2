// ATS: files that atsa wrote, of every type, read to the same doubles; zarn's own files read
// back to the resampled partials; columns shared; every fault with its byte offset.
#include "formats/ats.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "formats/formats.hpp"
#include "fit/resample.hpp"
#include "run_binary.hpp"
#include "io/tokens.hpp"
#include "support.hpp"

namespace {

std::string doubles(const std::vector<double>& values, bool big_endian = false) {
  std::string s;
  for (double v : values) {
    char b[8];
    std::memcpy(b, &v, 8);
    if (big_endian) std::reverse(b, b + 8);
    s.append(b, 8);
  }
  return s;
}

// The values of a file of this machine's byte order.
std::vector<double> values_of(const std::string& bytes) {
  std::vector<double> v(bytes.size() / 8);
  std::memcpy(v.data(), bytes.data(), v.size() * 8);
  return v;
}

// Files that atsa wrote (tests/data/make_fixtures.sh): every column's runs of frames with
// amplitude above zero, exactly as the file holds them.
TEST(Ats, ReadsFilesOfAtsaOfEveryType) {
  for (int type = 1; type <= 4; ++type) {
    SCOPED_TRACE(type);
    const std::string bytes = zarn_test::data("atsa-type" + std::to_string(type) + ".ats");
    const std::vector<double> v = values_of(bytes);
    const auto columns = static_cast<std::size_t>(v[4]), frames = static_cast<std::size_t>(v[5]);
    ASSERT_EQ(v[9], type);
    const std::size_t width = type % 2 == 0 ? 3 : 2, per = 1 + columns * width + (type >= 3 ? 25 : 0);
    std::vector<std::vector<std::vector<double>>> want;  // partials of (time, frequency, amplitude)
    std::vector<long> open(columns, -1);
    for (std::size_t f = 0; f < frames; ++f)
      for (std::size_t c = 0; c < columns; ++c) {
        const double* frame = &v[10 + f * per];
        const double amp = frame[1 + c * width], freq = frame[2 + c * width];
        if (!(amp > 0)) {
          open[c] = -1;
          continue;
        }
        if (open[c] < 0) {
          open[c] = static_cast<long>(want.size());
          want.emplace_back();
        }
        want[static_cast<std::size_t>(open[c])].push_back({frame[0], std::max(freq, 4.0), amp});
      }
    const zarn::PartialSet set = zarn::read_input(bytes, "in.ats");
    ASSERT_EQ(set.P(), static_cast<int>(want.size()));
    for (std::size_t p = 0; p < want.size(); ++p) EXPECT_EQ(zarn_test::points(set.partials[p]), want[p]) << p;
    // Handed on a partial at a time, as each ends (they end out of the order they began): the
    // same partials, in the same order, at the same places, with the noise known at the start.
    struct Sink final : zarn::PartialSink {
      void start(const zarn::PartialSet& input, int n) override { count = n, frames = input.noise.times.size(); }
      void take(zarn::Partial& part, int p) override {
        numbers.push_back(p);
        partials.push_back(zarn_test::points(part));
        places.push_back(part.place);
      }
      int count = -1;
      std::size_t frames = 0;
      std::vector<int> numbers;
      std::vector<std::vector<std::vector<double>>> partials;
      std::vector<double> places;
    } sink;
    zarn::Input in(bytes, "in.ats");
    const zarn::PartialSet rest = zarn::read_ats_each(in, zarn::PartialSet{}, sink);
    EXPECT_EQ(sink.count, set.P());
    EXPECT_EQ(sink.frames, set.noise.times.size());
    EXPECT_EQ(rest.noise.power, set.noise.power);
    EXPECT_EQ(sink.partials, want);
    for (std::size_t p = 0; p < sink.numbers.size(); ++p) {
      EXPECT_EQ(sink.numbers[p], static_cast<int>(p));
      EXPECT_EQ(sink.places[p], set.partials[p].place);
    }
    EXPECT_GE(set.P(), 2);  // the two tones at least
    // Types 3 and 4: each frame's 25 band energies, as mean squares (2.78 E / window).
    ASSERT_EQ(set.noise.empty(), type < 3);
    if (type < 3) continue;
    ASSERT_EQ(set.noise.bands(), 25u);
    ASSERT_EQ(set.noise.times.size(), frames);
    for (std::size_t f = 0; f < frames; ++f) {
      EXPECT_EQ(set.noise.times[f], v[10 + f * per]);
      for (std::size_t b = 0; b < 25; ++b) EXPECT_EQ(set.noise.frame(f)[b], 2.78 * v[10 + f * per + 1 + columns * width + b] / v[3]);
    }
  }
}

zarn::ResampledSet resampled(const zarn::PartialSet& read, double step) {
  zarn::ResampledSet set = zarn_test::lay_aligned_grid(read, step, "in");
  zarn::resample(read, set);
  return set;
}

std::string written(const zarn::ResampledSet& set) {
  std::string bytes;
  zarn::Output out(&bytes);
  zarn::result_writer(set, zarn::Format::kAts)(out);
  out.flush();
  return bytes;
}

// What zarn writes reads back to the resampled partials, exactly; amplitudes the spline took to
// zero or below come back as the smallest positive double.
TEST(Ats, WhatIsWrittenReadsBackExactly) {
  const zarn::ResampledSet set =
      resampled(zarn::read_input(zarn_test::slurp(std::string(ZARN_SOURCE_DIR) + "/examples/violin.txt"), "violin.txt"), 0.01);
  const zarn::PartialSet back = zarn::read_input(written(set), "out.ats");
  ASSERT_EQ(back.P(), set.P());
  for (std::size_t p = 0; p < set.partials.size(); ++p) {
    const zarn::Resampled& want = set.partials[p];
    EXPECT_EQ(back.partials[p].time, want.time);
    EXPECT_EQ(back.partials[p].freq, want.freq);
    for (std::size_t j = 0; j < want.amp.size(); ++j)
      EXPECT_EQ(back.partials[p].amp[j], want.amp[j] > 0 ? want.amp[j] : 0.0);
  }
  const std::vector<double> header = values_of(written(set).substr(0, 80));
  double loudest = 0, highest = 0;
  long long last_k = 0;
  for (const zarn::Resampled& part : set.partials) {
    for (std::size_t j = 0; j < part.time.size(); ++j) loudest = std::max(loudest, part.amp[j]), highest = std::max(highest, part.freq[j]);
    if (part.N() > 0) last_k = std::max(last_k, part.first_k + part.N() - 1);
  }
  EXPECT_EQ(header[1], 44100);  // the rate
  EXPECT_EQ(header[2], 441);    // frame and window size: 0.01 s at 44100 Hz
  EXPECT_EQ(header[5], static_cast<double>(last_k + 1));  // frames from time 0
  EXPECT_EQ(header[6], loudest);
  EXPECT_EQ(header[7], highest);
  EXPECT_EQ(header[8], static_cast<double>(last_k + 1) * 0.01);  // the duration
  EXPECT_EQ(header[9], 2);      // amplitude, frequency and phase
}

// Noise is written as type 4, band energies in every frame from time 0 to the noise's last,
// and reads back as it was (where its frames lie on the grid's times).
TEST(Ats, NoiseWrittenAsTypeFourReadsBack) {
  zarn::PartialSet read;
  zarn::Partial part;
  for (int j = 0; j < 5; ++j) zarn::add_breakpoint(part, 0.01 * j, 440, 0.1);
  read.partials.push_back(part);
  read.noise = zarn::critical_band_noise();
  for (int j = 0; j < 8; ++j) {
    read.noise.times.push_back(0.01 * j);
    for (int b = 0; b < 25; ++b) read.noise.power.push_back(1e-4 * (1 + b) * (1 + j));
  }
  const std::string bytes = written(resampled(read, 0.01));
  const std::vector<double> header = values_of(bytes.substr(0, 80));
  EXPECT_EQ(header[9], 4);
  EXPECT_EQ(header[5], 8);  // frames to the noise's last, beyond the partial's
  const zarn::PartialSet back = zarn::read_input(bytes, "out.ats");
  ASSERT_EQ(back.P(), 1);
  ASSERT_EQ(back.noise.times, read.noise.times);
  for (std::size_t i = 0; i < read.noise.power.size(); ++i) EXPECT_NEAR(back.noise.power[i], read.noise.power[i], 1e-15) << i;
}

// A partial of 25 Hz on a grid of 0.01 s turns a quarter of a circle from point to point, its
// phase kept within [-pi, pi); an amplitude that the fit took to zero or below is written as
// the smallest positive double, which keeps the partial whole and reads back as silence.
TEST(Ats, PhasesAndSilenceWithinAPartial) {
  constexpr double kPi = 3.14159265358979323846;
  zarn::ResampledSet set;
  set.step = 0.01;
  set.aligned = true;
  zarn::Resampled part;
  part.time = {0, 0.01, 0.02, 0.03, 0.04};
  part.freq = {25, 25, 25, 25, 25};
  part.amp = {0.5, 0.5, -0.1, 0.5, 0.5};
  set.partials.push_back(part);
  const std::vector<double> v = values_of(written(set));
  const double want[] = {0, kPi / 2, -kPi, -kPi / 2, 0};
  for (std::size_t k = 0; k < 5; ++k) {
    EXPECT_NEAR(v[10 + 4 * k + 3], want[k], 1e-12) << k;  // after the frame's time, amplitude and frequency
  }
  EXPECT_EQ(v[10 + 4 * 2 + 1], std::numeric_limits<double>::min());
  const zarn::PartialSet back = zarn::read_input(written(set), "out.ats");
  ASSERT_EQ(back.P(), 1);
  EXPECT_EQ(back.partials[0].amp, (std::vector<double>{0.5, 0.5, 0.0, 0.5, 0.5}));
}

// A partial's own phases are written in place of the running phase and read back exactly;
// noise on bands of its own is carried onto ATS's 25, each band's power the sum of what its
// frequencies hold (two bands of a split one add up, half of a band that straddles an edge
// goes to each side).
TEST(Ats, OwnPhasesAndNoiseOnOtherBands) {
  zarn::ResampledSet set;
  set.step = 0.01;
  set.aligned = true;
  zarn::Resampled part;
  part.time = {0, 0.01, 0.02};
  part.freq = {25, 26, 27};
  part.amp = {0.5, 0.4, 0.3};
  part.phase = {2.5, -0.75, 1.25};
  set.partials.push_back(part);
  set.noise.edges = {0, 50, 100, 150, 20000};  // the first critical band (0 to 100 Hz) in two; 100-200 straddled
  set.noise.times = {0, 0.01};
  set.noise.power = {1e-4, 3e-4, 8e-4, 1.985e-2, 2e-4, 6e-4, 4e-4, 0};
  const zarn::PartialSet back = zarn::read_input(written(set), "out.ats");
  ASSERT_EQ(back.P(), 1);
  EXPECT_EQ(back.partials[0].phase, part.phase);
  ASSERT_EQ(back.noise.bands(), 25u);
  EXPECT_NEAR(back.noise.frame(0)[0], 4e-4, 1e-15);
  EXPECT_NEAR(back.noise.frame(0)[1], 8e-4 + 5e-5, 1e-15);  // 100-150 Hz, and 50 Hz of the 19850 above
  EXPECT_NEAR(back.noise.frame(0)[2], 1e-4, 1e-15);         // 200-300 Hz: 100 Hz of them
  EXPECT_NEAR(back.noise.frame(1)[0], 8e-4, 1e-15);
  EXPECT_NEAR(back.noise.frame(1)[1], 4e-4, 1e-15);
}

// What an ATS file cannot hold is refused before anything is written: figures that are not
// finite, and a file beyond 4 GiB (its frames start at time 0).
TEST(Ats, RefusedBeforeWriting) {
  const auto one = [](double t0, double freq, double amp) {
    zarn::ResampledSet set;
    set.step = 0.0001;
    set.aligned = true;
    zarn::Resampled part;
    part.time = {t0, t0 + 0.0001};
    part.freq = {freq, freq};
    part.amp = {amp, amp};
    part.first_k = std::llround(t0 / 0.0001);
    set.partials.push_back(part);
    return set;
  };
  const struct {
    zarn::ResampledSet set;
    std::string message;  // its start; empty: accepted
  } cases[] = {
      {one(1, 440, 0.5), ""},
      {one(10000, 440, 0.5), ""},  // 3.2 GB
      {one(100000, 440, 0.5), "zarn: an ATS file of 1000000002 frames (from time 0, every 0.0001) by 1 partials would take 29.8 GiB"},
      {one(1, INFINITY, 0.5), "zarn: partial 1 has the frequency inf at time 1, which an ATS file cannot hold; nothing saved"},
      {one(1, 440, NAN), "zarn: partial 1 has the amplitude nan at time 1, which an ATS file cannot hold; nothing saved"},
  };
  for (const auto& c : cases) {
    std::string message;
    try {
      zarn::check_ats(c.set);
    } catch (const zarn::Failure& f) {
      message = f.message;
    }
    EXPECT_EQ(message.substr(0, c.message.size()), c.message);
    EXPECT_EQ(message.empty(), c.message.empty()) << message;
  }
}

// Partials that do not overlap share a column when a silent frame lies between them.
TEST(Ats, ColumnsAreShared) {
  const auto partial = [](double t0, int points) {
    zarn::Partial p;
    for (int k = 0; k < points; ++k) {
      p.time.push_back(t0 + 0.1 * k);
      p.freq.push_back(440 + k);
      p.amp.push_back(0.5);
    }
    return p;
  };
  const struct {
    std::vector<zarn::Partial> partials;
    double columns;
  } cases[] = {
      {{partial(0, 5), partial(0.6, 4)}, 1},                   // frames 0-4 and 6-9: one column
      {{partial(0, 5), partial(0.5, 4)}, 2},                   // 0-4 and 5-8: no silent frame between
      {{partial(0, 5), partial(0.6, 4), partial(0.3, 5)}, 2},  // the third overlaps both
  };
  for (const auto& c : cases) {
    zarn::PartialSet read;
    read.partials = c.partials;
    const zarn::ResampledSet set = resampled(read, 0.1);
    const std::string bytes = written(set);
    EXPECT_EQ(values_of(bytes)[4], c.columns);
    // The same partials, numbered by first appearance in the file.
    const zarn::PartialSet back = zarn::read_input(bytes, "out.ats");
    std::vector<std::vector<double>> got, want;
    for (const zarn::Partial& p : back.partials) got.push_back(p.time);
    for (const zarn::Resampled& p : set.partials) want.push_back(p.time);
    std::sort(got.begin(), got.end());
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want);
  }
}

TEST(Ats, RefusesFaultsNamingTheirByte) {
  // A header for 1 partial and 2 frames of type 1, and frames of (time, amplitude, frequency).
  const auto header = [](double partials, double frames, double type) {
    return std::vector<double>{123, 44100, 441, 441, partials, frames, 1, 1000, 1, type};
  };
  const auto file = [](std::vector<double> h, std::vector<double> frames) {
    h.insert(h.end(), frames.begin(), frames.end());
    return doubles(h);
  };
  const struct {
    const char* what;
    std::string bytes;
    std::string message;
  } cases[] = {
      {"a header cut short", doubles({123, 44100, 441}), "byte 0: the file ends inside the header that starts here"},
      {"type 5", file(header(1, 2, 5), {0, 0.5, 440, 0.1, 0.5, 440}), "byte 72: file type 5: ATS files are of type 1 to 4"},
      {"counts beyond the file", file(header(1e6, 2, 1), {0, 0.5, 440, 0.1, 0.5, 440}),
       "byte 32: the header's 1000000 partials and 2 frames of type 1 do not fit the file's 128 bytes"},
      {"a count that is no whole number", file(header(1.5, 2, 1), {}), "byte 32: the number of partials 1.5 is not a whole number"},
      {"a time that is not finite", file(header(1, 2, 1), {0, 0.5, 440, NAN, 0.5, 440}), "byte 104: frame time nan is not finite"},
      {"a time going back", file(header(1, 2, 1), {0.1, 0.5, 440, 0, 0.5, 440}),
       "byte 104: frame time 0 is not later than the frame before, at 0.1"},
      {"a negative amplitude", file(header(1, 2, 1), {0, -0.5, 440, 0.1, 0.5, 440}),
       "byte 88: amplitude -0.5 of partial 0 is negative or not finite"},
      {"a frequency that is not finite", file(header(1, 2, 1), {0, 0.5, INFINITY, 0.1, 0.5, 440}),
       "byte 88: frequency inf of partial 0 is not finite"},
      {"a negative noise energy", file(header(0, 1, 3), {0, 1, -2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25}),
       "byte 96: noise energy -2 of band 2 is negative or not finite"},
      // 2.78 times 1e308 over a window of 0.5 samples lies beyond any double.
      {"a noise energy finite but its power not", file({123, 44100, 441, 0.5, 0, 1, 1, 1000, 1, 3},
                                                       {0, 1, 1e308, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25}),
       "byte 96: noise energy 1e+308 of band 2 over the window of 0.5 samples is beyond any level"},
      {"noise without a window", file({123, 44100, 441, 0, 0, 0, 1, 1000, 1, 3}, {}),
       "byte 24: window size 0: a file with noise bands needs one above zero"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(zarn_test::rejection(c.bytes, "in.ats"), "zarn: in.ats: " + c.message + "\n");
  }
  // A header of partials and no frames is a whole file: nothing in it.
  EXPECT_EQ(zarn::read_input(file(header(3, 0, 2), {}), "in.ats").P(), 0);
  // The other byte order reads the same.
  const std::vector<double> one = {123, 44100, 441, 441, 1, 2, 1, 1000, 1, 1, 0, 0.5, 30000, 0.1, 0.5, 30000};
  const zarn::PartialSet big = zarn::read_input(doubles(one, true), "in.ats");
  ASSERT_EQ(big.P(), 1);
  EXPECT_EQ(zarn_test::points(big.partials[0]), (std::vector<std::vector<double>>{{0, 30000, 0.5}, {0.1, 30000, 0.5}}));
}

}  // namespace

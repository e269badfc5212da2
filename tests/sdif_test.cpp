// SDIF: files built in memory with what real files contain, every fault with its byte
// offset, files written by another analyser, and the round trip through zarn's own writer.
#include "formats/sdif.hpp"

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "io/tokens.hpp"
#include "model/failure.hpp"
#include "formats/formats.hpp"
#include "fit/resample.hpp"
#include "run_binary.hpp"
#include "support.hpp"

namespace {

// ------------------------------------------------------------ building files

std::string be32(std::uint32_t v) {
  return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
}

std::string f64(double v) {
  std::uint64_t bits;
  std::memcpy(&bits, &v, 8);
  return be32(static_cast<std::uint32_t>(bits >> 32)) + be32(static_cast<std::uint32_t>(bits));
}

std::string f32(double v) {
  const float f = static_cast<float>(v);
  std::uint32_t bits;
  std::memcpy(&bits, &f, 4);
  return be32(bits);
}

using Rows = std::vector<std::vector<double>>;

// A matrix of 32-bit floats (or 64-bit, or another data type given as is), padded to 8 bytes.
std::string matrix(const char* type, const Rows& rows, std::uint32_t data_type = 4) {
  const std::uint32_t columns = rows.empty() ? 4 : static_cast<std::uint32_t>(rows[0].size());
  std::string m = std::string(type, 4) + be32(data_type) + be32(static_cast<std::uint32_t>(rows.size())) + be32(columns);
  for (const auto& row : rows)
    for (double v : row) m += data_type == 8 ? f64(v) : data_type == 4 ? f32(v) : be32(static_cast<std::uint32_t>(v));
  while (m.size() % 8 != 0) m += '\0';
  return m;
}

std::string frame(const char* type, double time, std::uint32_t stream, const std::vector<std::string>& matrices) {
  std::string body = f64(time) + be32(stream) + be32(static_cast<std::uint32_t>(matrices.size()));
  for (const auto& m : matrices) body += m;
  return std::string(type, 4) + be32(static_cast<std::uint32_t>(body.size())) + body;
}

const std::string kHeader = std::string(zarn::kSdifMagic) + be32(3) + be32(1);

std::string nvt() {
  std::string text = "WrittenBy\tsomebody\n";
  std::string m = "1NVT" + be32(0x0301) + be32(static_cast<std::uint32_t>(text.size())) + be32(1) + text;
  while (m.size() % 8 != 0) m += '\0';
  return frame("1NVT", -std::numeric_limits<double>::infinity(), 0xfffffffd, {m});
}

zarn::PartialSet read(const std::string& bytes) { return zarn::read_input(bytes, "in.sdif"); }
std::string rejection(const std::string& bytes) { return zarn_test::rejection(bytes, "in.sdif"); }

// The same bytes through a pipe, which is read once (bytes in memory and files are read twice:
// counted, then taken): the partials, or the message of the failure.
std::string piped(const std::string& bytes, zarn::PartialSet* set) {
  int fds[2];
  if (::pipe(fds) != 0 || bytes.size() > 65536 || ::write(fds[1], bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
    return "no pipe";
  ::close(fds[1]);
  std::string message = "accepted";
  try {
    *set = zarn::read_input(fds[0], "in.sdif");
  } catch (const zarn::Failure& f) {
    message = f.message;
  }
  ::close(fds[0]);
  return message;
}
using Points = std::vector<std::vector<double>>;
using zarn_test::points;

// What read_sdif_each hands on: each partial, its number, and how far the input was read then.
struct Handed final : zarn::PartialSink {
  explicit Handed(const zarn::Input& from) : input(from) {}
  void start(const zarn::PartialSet& set, int n) override {
    count = n;
    plain = set.plain_origins;
  }
  void take(zarn::Partial& part, int p) override {
    partials.push_back(part);
    numbers.push_back(p);
    read_to.push_back(input.offset());
    part.time.assign(3, -1.0);  // the reader must not count on what it handed on
  }
  const zarn::Input& input;
  int count = -1;
  bool plain = false;
  std::vector<zarn::Partial> partials;
  std::vector<int> numbers;
  std::vector<std::uint64_t> read_to;
};

// The partials of the bytes handed on one at a time, checked against those read whole.
Handed handed_like_whole(const std::string& bytes, zarn::Input& in) {
  Handed sink(in);
  zarn::read_sdif_each(in, zarn::PartialSet{}, sink);
  const zarn::PartialSet whole = read(bytes);
  EXPECT_EQ(sink.count, whole.P());
  EXPECT_EQ(sink.plain, whole.plain_origins);
  EXPECT_EQ(sink.partials.size(), whole.partials.size());
  for (std::size_t p = 0; p < sink.partials.size() && p < whole.partials.size(); ++p) {
    EXPECT_EQ(sink.numbers[p], static_cast<int>(p));
    EXPECT_EQ(points(sink.partials[p]), points(whole.partials[p])) << "partial " << p;
    EXPECT_EQ(sink.partials[p].place, whole.partials[p].place);
    EXPECT_EQ(sink.partials[p].origin.stream, whole.partials[p].origin.stream);
    EXPECT_EQ(sink.partials[p].origin.harmonic, whole.partials[p].origin.harmonic);
    EXPECT_EQ(sink.partials[p].origin.index, whole.partials[p].origin.index);
  }
  return sink;
}

// ------------------------------------------------------------ reading

TEST(Sdif, ReadsWhatRealFilesContain) {
  const struct {
    const char* what;
    std::string body;
    std::vector<Points> partials;
  } cases[] = {
      {"a name-value table at -inf, rows out of order, extra columns",
       nvt() + frame("1TRC", 0.0, 1, {matrix("1TRC", {{2, 880, 0.25, 0, 9}, {1, 440, 0.5, 0, 9}})}) +
           frame("1TRC", 0.01, 1, {matrix("1TRC", {{1, 441, 0.5, 1, 9}, {2, 882, 0, 1, 9}})}),
       {{{0, 880, 0.25}, {0.01, 882, 0}}, {{0, 440, 0.5}, {0.01, 441, 0.5}}}},
      {"an index that comes back after a gap starts a new partial",
       frame("1TRC", 0.0, 0, {matrix("1TRC", {{1, 100, 0.1, 0}})}) + frame("1TRC", 0.01, 0, {matrix("1TRC", {{2, 200, 0.2, 0}})}) +
           frame("1TRC", 0.02, 0, {matrix("1TRC", {{1, 110, 0.1, 0}})}),
       {{{0, 100, 0.1}}, {{0.01, 200, 0.2}}, {{0.02, 110, 0.1}}}},
      {"a frame of zero rows ends every partial of its stream",
       frame("1HRM", 0.0, 0, {matrix("1HRM", {{1, 100, 0.1, 0}})}) + frame("1HRM", 0.01, 0, {matrix("1HRM", {})}) +
           frame("1HRM", 0.02, 0, {matrix("1HRM", {{1, 100, 0.1, 0}})}),
       {{{0, 100, 0.1}}, {{0.02, 100, 0.1}}}},
      {"two interleaved streams with the same indices, 64-bit data",
       frame("1TRC", 0.0, 0, {matrix("1TRC", {{1, 100, 0.1, 0}}, 8)}) + frame("1TRC", 0.0, 1, {matrix("1TRC", {{1, 300, 0.3, 0}}, 8)}) +
           frame("1TRC", 0.5, 0, {matrix("1TRC", {{1, 101, 0.1, 0}}, 8)}) + frame("1TRC", 0.5, 1, {matrix("1TRC", {{1, 301, 0.3, 0}}, 8)}),
       {{{0, 100, 0.1}, {0.5, 101, 0.1}}, {{0, 300, 0.3}, {0.5, 301, 0.3}}}},
      {"a track matrix in a marker frame, other matrices beside tracks, frequencies held above 4 Hz only",
       frame("1MRK", 0.0, 0, {matrix("1BEG", {{1}}, 0x0104), matrix("1TRC", {{1, 100, 0.1, 0}})}) +
           frame("1TRC", 0.1, 0, {matrix("1XYZ", {{7, 7}}, 0x0104), matrix("1TRC", {{3, -5, 0.1, 0}, {4, 30000, 0.1, 0}})}),
       {{{0.1, 4, 0.1}}, {{0.1, 30000, 0.1}}}},
      {"three 32-bit columns, padded after an odd number of rows; equal frame times in one stream",
       frame("1TRC", 0.0, 0, {matrix("1TRC", {{1, 100, 0.1}})}) + frame("1TRC", 0.0, 0, {matrix("1TRC", {{2, 200, 0.2}})}) +
           frame("1TRC", 0.01, 0, {matrix("1TRC", {{2, 210, 0.2}, {3, 300, 0.3}, {4, 400, 0.4}})}),
       {{{0, 100, 0.1}}, {{0, 200, 0.2}, {0.01, 210, 0.2}}, {{0.01, 300, 0.3}}, {{0.01, 400, 0.4}}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const zarn::PartialSet set = read(kHeader + c.body);
    const std::string bytes = kHeader + c.body;  // which the Input reads in place
    zarn::Input in(bytes, "in.sdif");
    handed_like_whole(bytes, in);
    zarn::PartialSet once;
    ASSERT_EQ(piped(kHeader + c.body, &once), "accepted");
    ASSERT_EQ(once.P(), set.P());
    for (std::size_t p = 0; p < set.partials.size(); ++p) {
      EXPECT_EQ(points(once.partials[p]), points(set.partials[p]));
      EXPECT_EQ(once.partials[p].place, set.partials[p].place);
    }
    ASSERT_EQ(set.P(), static_cast<int>(c.partials.size()));
    for (std::size_t p = 0; p < c.partials.size(); ++p) {
      const Points got = points(set.partials[p]);
      ASSERT_EQ(got.size(), c.partials[p].size()) << "partial " << p;
      for (std::size_t i = 0; i < got.size(); ++i)
        for (std::size_t j = 0; j < 3; ++j)  // as exact as 32-bit data can be
          EXPECT_NEAR(got[i][j], c.partials[p][i][j], 1e-7 * std::fmax(1.0, std::fabs(c.partials[p][i][j])))
              << "partial " << p << " point " << i;
    }
  }
}

// Each partial is handed on once it and every partial begun before it have ended, not at the
// end of the file; those that end before an earlier one wait, held or (past a few hundred
// thousand points) set aside on disk, and come back whole.
TEST(Sdif, HandsEachPartialOnWhenItEnds) {
  // Partial 0 lasts the whole file; 1 to 40 begin after it and end before it, 50,000 points of
  // them; 41 begins last, on stream 1 as a harmonic track.
  std::string bytes = kHeader;
  constexpr int kFrames = 2000;
  for (int f = 0; f < kFrames; ++f) {
    Rows rows = {{1, 100 + f * 0.01, 0.5, 0}};
    for (int k = 1; k <= 40; ++k)
      if (f >= k && f < k + 1250) rows.push_back({1.0 + k, 200.0 * k + f, 0.01 * k, 0});
    bytes += frame("1TRC", f * 0.001, 0, {matrix("1TRC", rows)});
  }
  bytes += frame("1HRM", 1.0, 1, {matrix("1HRM", {{3, 660, 0.1, 0}})});
  zarn::Input in(bytes, "in.sdif");
  const Handed sink = handed_like_whole(bytes, in);
  ASSERT_EQ(sink.partials.size(), 42u);
  EXPECT_FALSE(sink.plain);  // a harmonic track on stream 1
  // The first 41 come when partial 0 ends, with the last frame of stream 0; the harmonic one
  // after it, at the end.
  EXPECT_EQ(sink.read_to[0], sink.read_to[40]);
  EXPECT_LT(sink.read_to[0], bytes.size());
  EXPECT_GT(sink.read_to[41], sink.read_to[40]);

  // Without the long partial, each is handed on with the frame that holds its last row.
  std::string steps = kHeader;
  for (int f = 0; f < 4; ++f) steps += frame("1TRC", f * 0.1, 0, {matrix("1TRC", {{1.0 + f, 100.0 + f, 0.1, 0}, {2.0 + f, 200.0 + f, 0.1, 0}})});
  zarn::Input in2(steps, "in.sdif");
  const Handed each = handed_like_whole(steps, in2);
  ASSERT_EQ(each.partials.size(), 5u);
  EXPECT_TRUE(each.plain);
  for (std::size_t p = 0; p < 3; ++p) EXPECT_LT(each.read_to[p], each.read_to[p + 1]) << p;
  EXPECT_EQ(each.read_to[3], each.read_to[4]);  // both end in the last frame
}

TEST(Sdif, RejectsFaultsNamingTheirByte) {
  const std::string one = frame("1TRC", 0.0, 0, {matrix("1TRC", {{1, 100, 0.1, 0}})});  // 56 bytes, at byte 16
  std::string oversize = one;
  oversize[7] = static_cast<char>(oversize[7] + 8);  // the frame claims 8 bytes more than its matrices take
  const struct {
    const char* what;
    std::string body;
    std::string message;
  } cases[] = {
      {"truncated frame", one.substr(0, 40), "byte 16: the file ends inside the frame that starts here"},
      {"sizes that do not add up", oversize + std::string(8, '\0'), "byte 16: the frame's size says 56 bytes, but its matrices take 48"},
      {"integer track data", frame("1TRC", 0.0, 0, {matrix("1TRC", {{1, 100, 1, 0}}, 0x0104)}),
       "byte 40: data type 0x0104 in a \"1TRC\" matrix: track data must be 32- or 64-bit floats"},
      {"time going back", one + frame("1TRC", -1.0, 0, {}), "byte 72: time -1 goes back from 0 in stream 0"},
      {"negative amplitude", frame("1TRC", 0.0, 0, {matrix("1TRC", {{1, 100, -0.5, 0}})}),
       "byte 56: amplitude -0.5 of index 1 is negative or not finite"},
      {"an infinite frequency", frame("1TRC", 0.0, 0, {matrix("1TRC", {{1, HUGE_VAL, 0.5, 0}})}),
       "byte 56: the frequency of index 1 is not a finite number"},
      {"an index of a fraction", frame("1TRC", 0.0, 0, {matrix("1TRC", {{1.5, 100, 0.5, 0}})}), "byte 56: index 1.5 is not a whole number"},
      {"an index below any track's", frame("1TRC", 0.0, 0, {matrix("1TRC", {{-2147483648.0, 100, 0.5, 0}})}),
       "byte 56: index -2147483648 lies beyond the indices a track may have (-2147483647 to 2147483647)"},
      {"an index at the last track's", frame("1TRC", 0.0, 0, {matrix("1TRC", {{2147483647.0, 100, -1, 0}}, 8)}),
       "byte 56: amplitude -1 of index 2147483647 is negative or not finite"},
      {"an index far beyond", frame("1TRC", 0.0, 0, {matrix("1TRC", {{1e300, 100, 0.5, 0}}, 8)}),
       "byte 56: index 1e+300 lies beyond the indices a track may have (-2147483647 to 2147483647)"},
      {"an index twice in a frame", frame("1TRC", 0.0, 0, {matrix("1TRC", {{1, 100, 0.5, 0}, {1, 200, 0.5, 0}})}),
       "byte 72: index 1 appears twice in one frame of stream 0"},
      {"a matrix larger than its frame", frame("1TRC", 0.0, 0, {"1TRC" + be32(4) + be32(1000000) + be32(4)}),
       "byte 40: the matrix's 1000000 rows of 4 columns of 4 bytes run past the end of its frame"},
      {"a matrix whose size wraps around 64 bits", frame("1TRC", 0.0, 0, {"1TRC" + be32(16) + be32(1u << 30) + be32(1u << 30)}),
       "byte 40: the matrix's 1073741824 rows of 1073741824 columns of 16 bytes run past the end of its frame"},
      {"more matrices than the frame holds", frame("1TRC", 0.0, 0, {matrix("1TRC", {{1, 100, 0.1, 0}})}).replace(20, 4, be32(2)) + one,
       "byte 16: the frame's matrix count says more matrices than its size of 48 bytes holds"},
      {"too few columns", frame("1TRC", 0.0, 0, {matrix("1TRC", {{1, 100}})}),
       "byte 40: a \"1TRC\" matrix of 2 columns: tracks need index, frequency and amplitude"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(rejection(kHeader + c.body), "zarn: in.sdif: " + c.message + "\n");
    zarn::PartialSet unused;
    EXPECT_EQ(piped(kHeader + c.body, &unused), "zarn: in.sdif: " + c.message + "\n");
  }
}

// Memory follows the rows in the file, never the values of indices or stream numbers: a
// thousand streams of one row with index 65535 read in a small address space.
TEST(Sdif, ManyStreamsWithLargeIndicesTakeLittleMemory) {
  std::string body;
  for (std::uint32_t s = 0; s < 1000; ++s) body += frame("1TRC", 0.0, s, {matrix("1TRC", {{65535, 100.0 + s, 0.1, 0}})});
  const zarn::PartialSet set = read(kHeader + body);
  EXPECT_EQ(set.P(), 1000);
#ifndef ZARN_SANITIZED  // AddressSanitizer needs terabytes of address space for itself
  zarn_test::TempDir dir;
  zarn_test::spill(dir / "in.sdif", kHeader + body);
  zarn_test::RunOptions options;
  options.address_space_limit = 128L << 20;
  const auto run = zarn_test::run_zarn({"-q", "-o", "out.txt", "in.sdif"}, dir.path(), options);
  EXPECT_EQ(run.status, 0) << run.err;
#endif
}

// Files that hetro wrote (tests/data/make_fixtures.sh): the harmonics of a sawtooth and a
// square wave, at their frequencies and with their 1/k amplitudes.
TEST(Sdif, ReadsFilesOfAnotherAnalyser) {
  const struct {
    const char* file;
    double f0;
    int harmonics;
    bool odd_only;
  } cases[] = {{"hetro-saw220.sdif", 220, 4, false}, {"hetro-square330.sdif", 330, 5, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const zarn::PartialSet set = read(zarn_test::data(c.file));
    ASSERT_EQ(set.P(), c.harmonics);
    const zarn::Partial& first = set.partials[0];
    const std::size_t mid = first.time.size() / 2;
    for (int k = 1; k <= c.harmonics; ++k) {
      const zarn::Partial& h = set.partials[static_cast<std::size_t>(k - 1)];
      EXPECT_EQ(h.time, first.time);  // every harmonic in every frame
      if (c.odd_only && k % 2 == 0) {
        EXPECT_LT(h.amp[mid], 0.01 * first.amp[mid]) << "harmonic " << k;
        continue;
      }
      EXPECT_NEAR(h.freq[mid], k * c.f0, 0.005 * k * c.f0) << "harmonic " << k;
      EXPECT_NEAR(h.amp[mid] / first.amp[mid], 1.0 / k, 0.02 / k) << "harmonic " << k;
    }
  }
}

// ------------------------------------------------------------ writing

// The bytes the SDIF writer makes of a resampled set.
std::string written_sdif(const zarn::ResampledSet& set) {
  std::string bytes;
  {
    zarn::Output out(&bytes);
    zarn::result_writer(set, zarn::Format::kSdif)(out);
    out.flush();
  }
  return bytes;
}

TEST(Sdif, RoundTripKeepsEveryPartialToFloatPrecision) {
  const zarn::PartialSet read_set = zarn::read_input(zarn_test::slurp(std::string(ZARN_SOURCE_DIR) + "/examples/violin.txt"), "violin.txt");
  zarn::ResampledSet set = zarn_test::lay_aligned_grid(read_set, 0.01, "violin.txt");
  zarn::resample(read_set, set);
  const zarn::PartialSet back = read(written_sdif(set));
  ASSERT_EQ(back.P(), set.P());  // every partial of the example has aligned points
  for (std::size_t p = 0; p < set.partials.size(); ++p) {
    const zarn::Resampled& want = set.partials[p];
    const zarn::Partial& got = back.partials[p];
    ASSERT_EQ(got.M(), want.N());
    for (std::size_t j = 0; j < got.time.size(); ++j) {
      EXPECT_EQ(got.time[j], want.time[j]);
      EXPECT_EQ(got.freq[j], static_cast<float>(want.freq[j]));
      EXPECT_EQ(got.amp[j], static_cast<float>(std::fmax(want.amp[j], 0.0)));
    }
  }
}

// The fundamental, where the set holds one, goes with it as 1FQ0 frames (frequency and
// confidence) in a stream of its own, each at its time among the track frames; the partials
// read back as they were.
TEST(Sdif, TheFundamentalAs1FQ0Frames) {
  const zarn::PartialSet read_set = zarn::read_input(zarn_test::slurp(std::string(ZARN_SOURCE_DIR) + "/examples/violin.txt"), "violin.txt");
  zarn::ResampledSet set = zarn_test::lay_aligned_grid(read_set, 0.01, "violin.txt");
  zarn::resample(read_set, set);
  const std::string plain = written_sdif(set);
  set.fundamental = {{0.0, 0.015, 0.5}, {440, 0, 441}, {0.9, 0.1, 1}};
  const std::string bytes = written_sdif(set);
  EXPECT_EQ(bytes.size(), plain.size() + 3 * 48);  // a 40-byte header and 8 bytes of data each
  const zarn::PartialSet back = read(bytes);
  EXPECT_EQ(back.P(), read(plain).P());
  std::string frames;
  for (const auto& [name, value] : back.about)
    if (name == "Frames") frames = value;
  EXPECT_EQ(frames.substr(0, 7), "3 1FQ0,");
  const std::size_t at = bytes.find("1FQ0", 16);
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(bytes.substr(at + 40, 8), be32(0x43DC0000) + be32(0x3F666666));  // 440 and 0.9 as floats
}

// SDIF to SDIF keeps what it can: harmonic tracks stay 1HRM with their harmonic numbers, and
// every partial keeps its stream, with frequencies above 22050 Hz as they are.
TEST(Sdif, TrackTypesStreamsAndHighFrequenciesSurvive) {
  std::string body;
  for (int k = 0; k < 3; ++k) {
    const double t = k * 0.01;
    body += frame("1HRM", t, 3, {matrix("1HRM", {{2, 440, 0.5, 0}, {5, 1100, 0.25, 0}})});
    body += frame("1TRC", t, 1, {matrix("1TRC", {{7, 30000, 0.125, 0}})});
  }
  const zarn::PartialSet read_set = read(kHeader + body);
  zarn::ResampledSet set = zarn_test::lay_aligned_grid(read_set, 0.01, "in.sdif");
  zarn::resample(read_set, set);
  const zarn::PartialSet back = read(written_sdif(set));
  ASSERT_EQ(back.P(), 3);
  const struct {
    int stream;
    bool harmonic;
    long long index;
    double freq;
  } want[] = {{3, true, 2, 440}, {3, true, 5, 1100}, {1, false, 3, 30000}};  // the sinusoid is the set's third
  for (std::size_t p = 0; p < 3; ++p) {
    SCOPED_TRACE(p);
    EXPECT_EQ(back.partials[p].origin.stream, want[p].stream);
    EXPECT_EQ(back.partials[p].origin.harmonic, want[p].harmonic);
    EXPECT_EQ(back.partials[p].origin.index, want[p].index);
    EXPECT_EQ(back.partials[p].freq, std::vector<double>(3, want[p].freq));
  }
}

// Two harmonic partials of one number, one after the other in one stream, read back as two:
// an empty frame parts them where nothing else of the stream goes on across it; where another
// partial does, the later one moves to a stream of its own.
TEST(Sdif, HarmonicsOfOneNumberStayApart) {
  const auto harmonic = [](int index, int first_k, int points, double freq) {
    zarn::Resampled p;
    for (int k = 0; k < points; ++k) {
      p.time.push_back((first_k + k) * 0.05);
      p.freq.push_back(freq);
      p.amp.push_back(0.1);
    }
    p.first_k = first_k;
    p.origin = {0, true, index};
    return p;
  };
  const struct {
    const char* what;
    std::vector<zarn::Resampled> partials;
    std::vector<int> streams;  // of the partials read back, in their order
  } cases[] = {
      {"in adjacent frames, alone", {harmonic(3, 0, 3, 300), harmonic(3, 3, 3, 310)}, {0, 0}},
      {"frames apart, alone", {harmonic(3, 0, 3, 300), harmonic(3, 5, 3, 310)}, {0, 0}},
      {"with a partial across them", {harmonic(3, 0, 3, 300), harmonic(3, 3, 3, 310), harmonic(1, 0, 7, 100)}, {0, 0, 1}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    zarn::ResampledSet set;
    set.step = 0.05;
    set.aligned = true;
    set.partials = c.partials;
    const zarn::PartialSet back = read(written_sdif(set));
    ASSERT_EQ(back.P(), static_cast<int>(c.partials.size()));
    std::vector<int> streams;
    std::vector<std::size_t> lengths, want_lengths;
    for (const zarn::Partial& p : back.partials) streams.push_back(p.origin.stream), lengths.push_back(p.time.size());
    for (const zarn::Resampled& p : c.partials) want_lengths.push_back(p.time.size());
    std::sort(lengths.begin(), lengths.end());
    std::sort(want_lengths.begin(), want_lengths.end());
    EXPECT_EQ(streams, c.streams);
    EXPECT_EQ(lengths, want_lengths);
  }
}

// A file of many frame types (as a hostile file may hold, one per frame) reads in time
// linear in its frames, and names a few of its types, escaped.
TEST(Sdif, ManyFrameTypesAreCountedAndListedBriefly) {
  std::string body = frame("1TRC", 0.0, 0, {matrix("1TRC", {{1, 100, 0.1, 0}})});
  for (std::uint32_t i = 0; i < 20000; ++i) {
    const char type[5] = {'X', static_cast<char>(1 + i % 250), static_cast<char>(1 + i / 250), 'Z', 0};
    body += std::string(type, 4) + be32(16) + std::string(16, '\0');
  }
  const zarn::PartialSet set = read(kHeader + body);
  EXPECT_EQ(set.P(), 1);
  EXPECT_EQ(set.passed_over, "");  // partials were read: nothing to explain
  std::string passed;
  for (const auto& [name, value] : set.about)
    if (name == "Passed over") passed = value;
  EXPECT_EQ(passed.substr(0, 12), "1 X\\x01\\x01Z");
  EXPECT_NE(passed.find(" and 19992 other types"), std::string::npos) << passed;
}

// The phase column: 25 Hz on a grid of 0.01 s turns a quarter of a cycle a point, from 0,
// wrapped into [-pi, pi).
TEST(Sdif, WritesThePhaseOfEachPoint) {
  zarn::ResampledSet set;
  set.partials.resize(1);
  zarn::Resampled& p = set.partials[0];
  for (int k = 0; k < 6; ++k) {
    p.time.push_back(k * 0.01);
    p.freq.push_back(25);
    p.amp.push_back(0.5);
  }
  std::string bytes;
  {
    zarn::Output out(&bytes);
    zarn::result_writer(set, zarn::Format::kSdif)(out);
    out.flush();
  }
  const auto u32 = [&](std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])) << 24 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 8 | static_cast<unsigned char>(bytes[at + 3]);
  };
  std::vector<float> phases;
  for (std::size_t at = 16; at + 8 <= bytes.size(); at += 8 + u32(at + 4)) {
    if (bytes.compare(at, 4, "1TRC") != 0) continue;
    const std::uint32_t bits = u32(at + 40 + 12);  // the first row's fourth column
    float phase;
    std::memcpy(&phase, &bits, 4);
    phases.push_back(phase);
  }
  const float pi = static_cast<float>(std::acos(-1.0));
  const std::vector<float> want = {0, pi / 2, -pi, -pi / 2, 0, pi / 2};
  ASSERT_EQ(phases.size(), want.size());
  for (std::size_t k = 0; k < want.size(); ++k) EXPECT_NEAR(phases[k], want[k], 1e-5) << k;
}

// A partial's own phases go into the fourth column, written whole or a partial at a time (the
// same bytes), and come back at float precision beside a partial without, which runs from 0.
// A file whose rows hold three columns, or a partial with a phase that is no number, reads as
// partials without phases.
TEST(Sdif, KeepsEachPartialsOwnPhases) {
  zarn::ResampledSet set;
  set.step = 0.01;
  set.aligned = true;
  set.partials.resize(2);
  for (int k = 0; k < 5; ++k) {
    for (zarn::Resampled& p : set.partials) p.time.push_back(k * 0.01), p.freq.push_back(300 + 7 * k), p.amp.push_back(0.25);
    set.partials[0].phase.push_back(-3.0 + 1.37 * k);
  }
  const std::string bytes = written_sdif(set);
  std::string streamed;
  {
    zarn::SdifFrameStream stream("zarn", 0.01);
    for (const zarn::Resampled& p : set.partials) stream.take(p);
    zarn::Output out(&streamed);
    stream.write(out);
    out.flush();
  }
  const std::size_t start = bytes.find("1TRC");
  EXPECT_EQ(streamed.substr(streamed.find("1TRC")), bytes.substr(start));
  const zarn::PartialSet back = read(bytes);
  ASSERT_EQ(back.P(), 2);
  ASSERT_TRUE(zarn::has_phase(back.partials[0]));
  for (std::size_t j = 0; j < 5; ++j) EXPECT_EQ(back.partials[0].phase[j], static_cast<float>(set.partials[0].phase[j]));
  ASSERT_TRUE(zarn::has_phase(back.partials[1]));  // the running phase, written as before
  EXPECT_EQ(back.partials[1].phase[0], 0.0);

  const std::string three = kHeader + frame("1TRC", 0.0, 0, {matrix("1TRC", {{1, 440, 0.5}})}) + frame("1TRC", 0.1, 0, {matrix("1TRC", {{1, 441, 0.5}})});
  EXPECT_FALSE(zarn::has_phase(read(three).partials.at(0)));
  const std::string no_number = kHeader + frame("1TRC", 0.0, 0, {matrix("1TRC", {{1, 440, 0.5, 0.2}, {2, 880, 0.1, 0.5}})}) +
                                frame("1TRC", 0.1, 0, {matrix("1TRC", {{1, 441, 0.5, std::nan("")}, {2, 881, 0.1, 1.5}})});
  const zarn::PartialSet mixed = read(no_number);
  ASSERT_EQ(mixed.P(), 2);
  EXPECT_FALSE(zarn::has_phase(mixed.partials[0]));
  ASSERT_TRUE(zarn::has_phase(mixed.partials[1]));
  EXPECT_EQ(mixed.partials[1].phase[1], 1.5);
}

}  // namespace

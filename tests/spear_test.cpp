// The partial editors' two text exports: reading both, the index rule of the frame export,
// every fault with its line, and round trips through zarn's writers.
#include "formats/spear.hpp"

#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "model/failure.hpp"
#include "formats/formats.hpp"
#include "fit/resample.hpp"
#include "run_binary.hpp"
#include "support.hpp"

namespace {

zarn::PartialSet read(const std::string& text) { return zarn::read_input(text, "in.txt"); }
std::string rejection(const std::string& text) { return zarn_test::rejection(text, "in.txt"); }
using Points = std::vector<std::vector<double>>;
using zarn_test::points;

const std::string kPartialsHead = "par-text-partials-format\npoint-type time frequency amplitude\npartials-count 2\npartials-data\n";
const std::string kFramesHead = "par-text-frame-format\npoint-type index frequency amplitude\npartials-count 2\nframe-count ";

TEST(Spear, ReadsBothExports) {
  const struct {
    const char* what;
    std::string text;
    std::vector<Points> partials;
  } cases[] = {
      {"partials, one of a single point",
       kPartialsHead + "0 3 0.000000 0.020000\n0.000000 440.000000 0.100000 0.010000 441.000000 0.120000 0.020000 440.500000 0.090000\n"
                       "1 1 0.015000 0.015000\n0.015000 880.000000 0.010000\n",
       {{{0, 440, 0.1}, {0.01, 441, 0.12}, {0.02, 440.5, 0.09}}, {{0.015, 880, 0.01}}}},
      {"frames, CRLF line ends",
       kFramesHead + "2\r\nframe-data\r\n0.000000 1 0 440.000000 0.100000\r\n0.010000 2 0 441.000000 0.120000 1 880.000000 0.010000\r\n",
       {{{0, 440, 0.1}, {0.01, 441, 0.12}}, {{0.01, 880, 0.01}}}},
      {"frames: an index absent from a frame comes back as a new partial, frequencies held above 4 Hz only",
       kFramesHead + "3\nframe-data\n0.0 2 7 100 0.1 3 -20 0.2\n0.1 1 3 30000 0.2\n0.2 1 7 110 0.1\n",
       {{{0, 100, 0.1}}, {{0, 4, 0.2}, {0.1, 30000, 0.2}}, {{0.2, 110, 0.1}}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const zarn::PartialSet set = read(c.text);
    ASSERT_EQ(set.P(), static_cast<int>(c.partials.size()));
    for (std::size_t p = 0; p < c.partials.size(); ++p) EXPECT_EQ(points(set.partials[p]), c.partials[p]) << "partial " << p;
  }
}

TEST(Spear, RejectsFaultsNamingLineAndToken) {
  const struct {
    std::string text;
    const char* message;
  } cases[] = {
      {"par-text-frame-format\npoint-type time frequency amplitude\n", "in.txt:2: expected \"index\", found \"time\""},
      {kPartialsHead + "0 2 0 1\n0.0 440 0.1\n", "in.txt:6: the file ends where the time of point 2 of partial 0 should be"},
      {kPartialsHead + "0 2 0 1\n0.0 440 0.1 0.0 440 0.1\n", "in.txt:6: \"0.0\" is not later than the time before it, for the time of point 2 of partial 0"},
      {kPartialsHead + "0 1 0 0\n0.0 440 -0.1\n", "in.txt:6: \"-0.1\" is negative or not finite, for the amplitude of point 1 of partial 0"},
      {kPartialsHead + "0 1 0 0\n0.0 nan 0.1\n", "in.txt:6: \"nan\" is not a finite number, for the frequency of point 1 of partial 0"},
      {kPartialsHead + "0 1 0 0\n0.0 inf 0.1\n", "in.txt:6: \"inf\" is not a finite number, for the frequency of point 1 of partial 0"},
      {kPartialsHead + "0 0 0 0\n1 0 0 0\n2 0 0 0\n", "in.txt:7: expected the end of the file, found \"2\""},
      {kFramesHead + "2\nframe-data\n0.1 0\n0.0 0\n", "in.txt:7: \"0.0\" goes back in time, for the time of frame 2"},
      {kFramesHead + "1\nframe-data\n0.1 2 1 440 0.1 1 441 0.1\n", "in.txt:6: index 1 appears twice, in the index of point 2 of frame 1"},
      {kPartialsHead + "0 0 0 0\n\n7 x", "in.txt:7: \"x\" is not a valid count for the number of points of partial 7 (a whole number from 0 to 2147483647)"},
      {kPartialsHead + "0 0 0 0\n\n", "in.txt:6: the file ends where the index of the 2nd partial should be"},
      {kFramesHead + "2\nframe-data\n0.0 1 0 440 0.1\n0.0 1 0 450 0.1\n", "in.txt:7: the time of index 0 does not rise, in the index of point 1 of frame 2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(rejection(c.text), std::string("zarn: ") + c.message + "\n");
  }
}

// The example analysis resampled, written in an export and read back: every partial, to the
// six decimals written.
TEST(Spear, RoundTripsKeepEveryPartial) {
  for (const zarn::Format format : {zarn::Format::kSpearPartials, zarn::Format::kSpearFrames}) {
    const zarn::PartialSet read_set = zarn::read_input(zarn_test::slurp(std::string(ZARN_SOURCE_DIR) + "/examples/violin.txt"), "violin.txt");
    zarn::ResampledSet set = zarn_test::lay_aligned_grid(read_set, 0.01, "violin.txt");
    zarn::resample(read_set, set);
    std::string text;
    {
      zarn::Output out(&text);
      zarn::result_writer(set, format)(out);
      out.flush();
    }
    const zarn::PartialSet back = read(text);
    ASSERT_EQ(back.P(), set.P());
    for (std::size_t p = 0; p < set.partials.size(); ++p) {
      const zarn::Resampled& want = set.partials[p];
      const zarn::Partial& got = back.partials[p];
      ASSERT_EQ(got.M(), want.N());
      for (std::size_t j = 0; j < got.time.size(); ++j) {
        EXPECT_NEAR(got.time[j], want.time[j], 5e-7);
        EXPECT_NEAR(got.freq[j], want.freq[j], 5e-7);
        EXPECT_NEAR(got.amp[j], std::fmax(want.amp[j], 0.0), 5e-7);
      }
    }
  }
}

}  // namespace

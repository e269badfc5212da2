// Reading and writing the partial list file: positions, conversions, every rejection with
// its line, the writer's formats and a round trip.
#include "formats/partial_file.hpp"

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "model/failure.hpp"
#include "support.hpp"

namespace {

zarn::PartialSet read_text(const std::string& text) {
  zarn::Input in(text, "in.txt");
  return zarn::read_partials(in);
}

std::string rejection(const std::string& text) { return zarn_test::rejection(text, "in.txt"); }

std::string written(const zarn::ResampledSet& set) {
  std::string sink;
  zarn::Output out(&sink);
  zarn::write_partials(out, set);
  out.flush();
  return sink;
}

// A set with one partial whose resampled breakpoints are given.
zarn::ResampledSet resampled(const std::vector<double>& t, const std::vector<double>& f, const std::vector<double>& a) {
  zarn::ResampledSet set;
  set.partials.emplace_back();
  set.partials[0].time = t;
  set.partials[0].freq = f;
  set.partials[0].amp = a;
  return set;
}

// The table gives db2amp's own double for every level: those it holds (thousandths from 0 to
// -140 dB, asked twice), levels between its entries or beyond it, and what is not a level.
TEST(Decibels, TheLevelTableGivesDb2ampsDoubles) {
  zarn::LevelTable levels;
  const double between = std::nextafter(-56.202, 0.0);
  for (double db : {-56.202, -56.202, between, -56.2021, -56.202, 0.0, -0.0, -140.0, -140.0004, -139.9996, -150.0, 3.5, -0.0005,
                    -1e-300, std::nan(""), -std::numeric_limits<double>::infinity()}) {
    const double want = zarn::db2amp(db), got = levels.amp(db);
    EXPECT_TRUE(got == want || (std::isnan(got) && std::isnan(want))) << db;
  }
}

TEST(Decibels, ConversionsAndTheirFloor) {
  EXPECT_DOUBLE_EQ(zarn::db2amp(-20), 0.1);
  EXPECT_EQ(zarn::db2amp(0), 1.0);
  EXPECT_EQ(zarn::db2amp(-200), zarn::db2amp(-140));
  EXPECT_DOUBLE_EQ(zarn::db2amp(-140), 1e-7);
  EXPECT_DOUBLE_EQ(zarn::amp2db(0.1), -20);
  EXPECT_DOUBLE_EQ(zarn::amp2db(1e-8), -160);  // positive amplitudes keep their true level
  EXPECT_EQ(zarn::amp2db(0), -140);
  EXPECT_EQ(zarn::amp2db(-0.5), -140);
  EXPECT_EQ(zarn::amp2db(std::nan("")), -140);
}

TEST(Read, TakesTokensByPositionAndConverts) {
  const auto set = read_text(
      "{ anything 2\n"
      "( POINTS 4 0 2 -200\n 0.5 40000 -20 0.6 22049.9 -20 0.7 22050.1 -20 )\n"
      "( POINTS\t1\n1.25 inf -inf )\n"
      ") whatever follows is not read ( ( (");
  ASSERT_EQ(set.P(), 2);
  const auto& a = set.partials[0];
  EXPECT_EQ(a.place, 2);
  EXPECT_EQ(a.time, (std::vector<double>{0, 0.5, 0.6, 0.7}));
  EXPECT_EQ(a.freq, (std::vector<double>{4, 22050, 22049.9, 22050}));
  EXPECT_EQ(a.amp[0], zarn::db2amp(-140));
  EXPECT_EQ(a.amp[1], std::pow(10.0, -1.0));
  const auto& b = set.partials[1];
  EXPECT_EQ(b.place, 4);
  EXPECT_EQ(b.freq[0], 22050);  // infinite frequencies and levels are held by the clamps
  EXPECT_EQ(b.amp[0], zarn::db2amp(-140));
}

TEST(Read, EmptyListAndEmptyPartials) {
  EXPECT_EQ(read_text("( PARTIALS 0 )").P(), 0);
  const auto set = read_text("( PARTIALS 2 ( POINTS 0 ) ( POINTS 0 ) )");
  EXPECT_EQ(set.P(), 2);
  EXPECT_EQ(set.partials[1].M(), 0);
}

TEST(Read, RejectsMalformedInputNamingLineAndToken) {
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"", "in.txt:1: the file ends where the list header should be"},
      {"( PARTIALS\n", "in.txt:1: the file ends where the number of partials should be"},
      {"( PARTIALS two", "in.txt:1: \"two\" is not a valid count for the number of partials (a whole number from 0 to 2147483647)"},
      {"( PARTIALS -1", "in.txt:1: \"-1\" is not a valid count for the number of partials (a whole number from 0 to 2147483647)"},
      {"( PARTIALS 1.0", "in.txt:1: \"1.0\" is not a valid count for the number of partials (a whole number from 0 to 2147483647)"},
      {"( PARTIALS 1\n(\n", "in.txt:2: the file ends where the header of partial 1 should be"},
      {"( PARTIALS 1\n( POINTS 99999999999", "in.txt:2: \"99999999999\" is not a valid count for the number of breakpoints of partial 1 (a whole number from 0 to 2147483647)"},
      {"( PARTIALS 1\n( POINTS 2\n0 440 -20\n0.1 441Hz -20", "in.txt:4: \"441Hz\" is not a number, for the frequency of breakpoint 2 of partial 1"},
      {"( PARTIALS 1\n( POINTS 1\nabc 440 -20", "in.txt:3: \"abc\" is not a number, for the time of breakpoint 1 of partial 1"},
      {"( PARTIALS 1\n( POINTS 1\n0 440 -", "in.txt:3: \"-\" is not a number, for the level of breakpoint 1 of partial 1"},
      {"( PARTIALS 1\n( POINTS 1\ninf 440 -20", "in.txt:3: \"inf\" is not a finite time, for the time of breakpoint 1 of partial 1"},
      {"( PARTIALS 1\n( POINTS 2\nnan 440 -20", "in.txt:3: \"nan\" is not a finite time, for the time of breakpoint 1 of partial 1"},
      {"( PARTIALS 1\n( POINTS 1\n0 nan -20", "in.txt:3: \"nan\" is not a number, for the frequency of breakpoint 1 of partial 1"},
      {"( PARTIALS 1\n( POINTS 1\n0 440 nan", "in.txt:3: \"nan\" is a level whose amplitude is not a finite number, for the level of breakpoint 1 of partial 1"},
      {"( PARTIALS 1\n( POINTS 1\n0 440 inf", "in.txt:3: \"inf\" is a level whose amplitude is not a finite number, for the level of breakpoint 1 of partial 1"},
      {"( PARTIALS 1\n( POINTS 1\n0 440 1e308", "in.txt:3: \"1e308\" is a level whose amplitude is not a finite number, for the level of breakpoint 1 of partial 1"},
      {"( PARTIALS 1\n( POINTS 3\n0 440 -20\n0.2 440 -20\n0.2 440 -20", "in.txt:5: \"0.2\" is not later than the time before it, for the time of breakpoint 3 of partial 1"},
      {"( PARTIALS 1\n( POINTS 2\n0 440 -20\n-1 440 -20", "in.txt:4: \"-1\" is not later than the time before it, for the time of breakpoint 2 of partial 1"},
      // counts that lie: too few breakpoints announced, too many, too few partials, too many
      {"( PARTIALS 1\n( POINTS 1\n0 440 -20\n1 441 -20\n)\n)\n", "in.txt:4: expected the \")\" closing partial 1 after its 1 breakpoints, found \"1\""},
      {"( PARTIALS 1\n( POINTS 3\n0 440 -20\n1 441 -20\n)\n)\n", "in.txt:5: \")\" is not a number, for the time of breakpoint 3 of partial 1"},
      {"( PARTIALS 1\n( POINTS 0\n)\n( POINTS 0\n)\n)\n", "in.txt:4: expected the \")\" closing the list of 1 partials, found \"(\""},
      {"( PARTIALS 2\n( POINTS 0\n)\n)\n", "in.txt:4: the file ends where the header of partial 2 should be"},
      {"( PARTIALS 1\n( POINTS 0\n)\n", "in.txt:3: the file ends where the \")\" closing the list of 1 partials should be"},
      {"( PARTIALS 1\n( POINTS 0\n)x\n)\n", "in.txt:3: expected the \")\" closing partial 1 after its 0 breakpoints, found \")x\""},
      {"( PARTIALS 1\n( POINTS 1\n0 440 -20\n", "in.txt:3: the file ends where the \")\" closing partial 1 after its 1 breakpoints should be"},
      // a count far beyond what the file could hold is an error, not an allocation
      {"( PARTIALS 2000000000\n", "in.txt:1: the file ends where the header of partial 1 should be"},
      {"( PARTIALS 1 ( POINTS 2000000000 0 1 1\n", "in.txt:1: the file ends where the time of breakpoint 2 of partial 1 should be"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(rejection(c.text), std::string("zarn: ") + c.message + "\n");
  }
}

TEST(Read, LongTokensAreQuotedShort) {
  const std::string token(100000, '7');
  EXPECT_EQ(rejection("( PARTIALS " + token),
            "zarn: in.txt:1: \"" + std::string(60, '7') +
                "...\" is not a valid count for the number of partials (a whole number from 0 to 2147483647)\n");
}

TEST(Write, FormatsEveryLine) {
  const auto set = resampled({0.0, 0.05}, {440.0, 441.0}, {0.1, std::pow(10.0, -21.0 / 20.0)});
  EXPECT_EQ(written(set),
            "( PARTIALS\t1\n"
            "( POINTS\t2\n"
            "    0.000\t  440.000\t  -20.000\n"
            "    0.050\t  441.000\t  -21.000\n"
            ")\n"
            ")\n");
}

TEST(Write, FiguresAreNarrowedToSinglePrecision) {
  const auto set = resampled({1.2345, 2.0}, {123.4565, 22050.0}, {1e-7, 1e-8});
  const std::string text = written(set);
  // As floats, 123.4565 lies just below its double and 1.2345 just above: they round the
  // other way than the doubles would.
  EXPECT_NE(text.find("    1.235\t  123.456\t -140.000\n"), std::string::npos) << text;
  EXPECT_NE(text.find("    2.000\t22050.000\t -160.000\n"), std::string::npos) << text;
}

TEST(Write, AmplitudesOfZeroOrLessAreWrittenAsTheFloor) {
  const auto set = resampled({0, 1, 2}, {5, 5, 5}, {0.0, -0.25, -1e-300});
  const std::string text = written(set);
  EXPECT_EQ(text.find("-0."), std::string::npos);
  std::size_t floors = 0;
  for (std::size_t at = text.find(" -140.000\n"); at != std::string::npos; at = text.find(" -140.000\n", at + 1)) ++floors;
  EXPECT_EQ(floors, 3u);
}

TEST(Write, EmptySetAndEmptyPartial) {
  EXPECT_EQ(written(zarn::ResampledSet{}), "( PARTIALS\t0\n)\n");
  EXPECT_EQ(written(resampled({}, {}, {})), "( PARTIALS\t1\n( POINTS\t0\n)\n)\n");
}

TEST(Write, WhatIsWrittenReadsBack) {
  zarn::ResampledSet set;
  for (int p = 0; p < 3; ++p) {
    zarn::Resampled part;
    for (int k = 0; k < 5 * p; ++k) {
      part.time.push_back(0.25 + k * 0.01);
      part.freq.push_back(k % 2 ? 3.0 : 30000.0);  // comes back held within [4, 22050]
      part.amp.push_back(k % 3 ? 1e-9 : 0.5);       // -180 dB comes back as -140 dB
    }
    set.partials.push_back(part);
  }
  const auto back = read_text(written(set));
  ASSERT_EQ(back.P(), 3);
  for (int p = 0; p < 3; ++p) {
    const auto& got = back.partials[static_cast<std::size_t>(p)];
    ASSERT_EQ(got.M(), 5 * p);
    for (int k = 0; k < got.M(); ++k) {
      EXPECT_DOUBLE_EQ(got.time[static_cast<std::size_t>(k)], 0.25 + k * 0.01);
      EXPECT_EQ(got.freq[static_cast<std::size_t>(k)], k % 2 ? 4.0 : 22050.0);
      EXPECT_EQ(got.amp[static_cast<std::size_t>(k)], k % 3 ? zarn::db2amp(-140) : zarn::db2amp(std::stod("-6.021")));
    }
  }
}

// Figures that single precision cannot hold would be written as "inf", which no reader takes:
// refused before anything is written, naming the partial, the figure and its time.
TEST(Write, FiguresBeyondSinglePrecisionAreRefused) {
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    std::vector<double> t, f, a;
    const char* message;
  } cases[] = {
      {{0, 3.4e38}, {440, 440}, {1, 1}, nullptr},  // within single precision
      {{0, 1e39}, {440, 440}, {1, 1}, "partial 1 has the time 1e+39 at time 1e+39"},
      {{0, 1}, {440, -4e38}, {1, 1}, "partial 1 has the frequency -4e+38 at time 1"},
      {{0, 1}, {440, 440}, {inf, 1}, "partial 1 has the amplitude inf at time 0"},
      {{0, 1}, {440, 440}, {1e300, std::nan("")}, nullptr},  // levels of 6000 dB and -140 dB
  };
  for (const auto& c : cases) {
    std::string message = "accepted";
    try {
      zarn::check_list_figures(resampled(c.t, c.f, c.a));
    } catch (const zarn::Failure& f) {
      message = f.message;
    }
    if (c.message == nullptr)
      EXPECT_EQ(message, "accepted");
    else
      EXPECT_EQ(message, std::string("zarn: ") + c.message +
                             ", which a partial list cannot hold (its figures are single-precision numbers); nothing saved\n");
  }
}

}  // namespace

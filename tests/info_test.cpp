// What --info says: the figures of a set worked out by hand, what an SDIF reader passed over,
// and the aligned lines.
#include "render/info.hpp"

#include <string>

#include <gtest/gtest.h>

#include "formats/formats.hpp"

namespace {

TEST(Info, FiguresOfASet) {
  const zarn::PartialSet set = zarn::read_input(
      "( PARTIALS 3 ( POINTS 2 0.5 440 -20 0.75 450 -6 ) ( POINTS 0 ) ( POINTS 3 0 100 -60 0.5 300 -40 2 200 -50 ) )", "in.txt");
  const zarn::Info i = zarn::info_of(set, 0.3);
  EXPECT_EQ(i.partials, 3);
  EXPECT_EQ(i.breakpoints, 5);
  EXPECT_EQ(i.time_lo, 0);
  EXPECT_EQ(i.time_hi, 2);
  EXPECT_EQ(i.freq_lo, 100);
  EXPECT_EQ(i.freq_hi, 450);
  EXPECT_NEAR(i.level_lo, -60, 1e-9);
  EXPECT_NEAR(i.level_hi, -6, 1e-9);
  EXPECT_EQ(i.shortest, 0.25);
  EXPECT_EQ(i.shortest_at, 1);
  EXPECT_EQ(i.longest, 2);
  EXPECT_EQ(i.longest_at, 3);
  EXPECT_EQ(i.shorter_than_step, 1);
  std::string text;
  zarn::Output out(&text);
  zarn::write_info(out, zarn::info_lines("in.txt", set, i, 0.3));
  out.flush();
  EXPECT_EQ(text.substr(0, 52), "Input File       : 'in.txt'\nFormat           : list\n");
  // Noise: its bands, frames and the range of its frames' power over all bands.
  zarn::PartialSet noisy = set;
  noisy.noise.edges = {0, 100, 300};
  noisy.noise.times = {0, 0.1};
  noisy.noise.power = {1e-3, 9e-3, 1e-5, 0};
  bool said = false;
  for (const auto& [name, value] : zarn::info_lines("in.txt", noisy, i, 0.3))
    if (name == "Noise") said = value == "2 bands from 0 to 300 Hz, 2 frames, -50.0 to -20.0 dB";
  EXPECT_TRUE(said);
}

// Spans equal to the step are not shorter than it; of equal spans, the first is named.
TEST(Info, EqualSpansAndTies) {
  const zarn::PartialSet set = zarn::read_input(
      "( PARTIALS 5 ( POINTS 2 0 440 -20 0.5 440 -20 ) ( POINTS 2 1 440 -20 1.25 440 -20 ) ( POINTS 2 2 440 -20 2.25 440 -20 )"
      " ( POINTS 2 0 440 -20 2 440 -20 ) ( POINTS 2 1 440 -20 3 440 -20 ) )",
      "in.txt");
  const zarn::Info i = zarn::info_of(set, 0.25);
  EXPECT_EQ(i.shortest, 0.25);
  EXPECT_EQ(i.shortest_at, 2);
  EXPECT_EQ(i.longest, 2);
  EXPECT_EQ(i.longest_at, 4);
  EXPECT_EQ(i.shorter_than_step, 0);
  EXPECT_EQ(zarn::info_of(set, 0.5).shorter_than_step, 2);
}

// A chord-sequence file: marker frames only, which are passed over; --info says so.
TEST(Info, WhatWasPassedOver) {
  std::string sdif = std::string("SDIF\0\0\0\x08\0\0\0\3\0\0\0\1", 16);
  for (int f = 0; f < 3; ++f) sdif += std::string("1MRK\0\0\0\x10", 8) + std::string(16, '\0');
  const zarn::PartialSet set = zarn::read_input(sdif, "chords.sdif");
  EXPECT_EQ(set.P(), 0);
  EXPECT_EQ(set.passed_over, "no 1TRC or 1HRM frames; 3 1MRK frames passed over");
  const auto lines = zarn::info_lines("chords.sdif", set, zarn::info_of(set, 0.05), 0.05);
  EXPECT_EQ(lines.back(), (std::pair<std::string, std::string>{"Nothing read", set.passed_over}));
}

}  // namespace

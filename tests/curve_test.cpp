// Curves over time: their values between and beyond breakpoints, and every fault named by its
// breakpoint and text.
#include "edit/curve.hpp"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(Curve, StraightBetweenHeldBeyond) {
  const zarn::Curve up{{1, 3}, {10, 40}}, down{{1, 3}, {40, 10}};
  const struct {
    double time, up, down;
  } cases[] = {{-5, 10, 40}, {1, 10, 40}, {1.5, 17.5, 32.5}, {2.5, 32.5, 17.5}, {3, 40, 10}, {9, 40, 10}};
  for (const auto& c : cases) {
    EXPECT_DOUBLE_EQ(up.at(c.time), c.up) << c.time;
    EXPECT_DOUBLE_EQ(down.at(c.time), c.down) << c.time;
  }
  EXPECT_FALSE(up.constant());
  EXPECT_FALSE(down.constant());  // falling: every value but the first below it
  EXPECT_FALSE((zarn::Curve{{0, 1, 2}, {5, 5, 4}}.constant()));
  EXPECT_TRUE((zarn::Curve{{0, 2}, {5, 5}}.constant()));
}

TEST(Curve, ParsedOrRefusedNamingTheBreakpoint) {
  const struct {
    const char* text;
    bool in_file;
    zarn::ValueRule rule;
    std::vector<double> times, values;
    std::string problem;
  } cases[] = {
      {"0:1,2.5:-3", false, zarn::any_value, {0, 2.5}, {1, -3}, ""},
      {"-1:7", false, zarn::any_value, {-1}, {7}, ""},
      {"0:1,0:2", false, zarn::any_value, {}, {}, "breakpoint 2 '0:2': the times must rise"},
      {"0:1,x:2", false, zarn::any_value, {}, {}, "breakpoint 2 'x:2': the time is not a finite number"},
      {"0:inf", false, zarn::any_value, {}, {}, "breakpoint 1 '0:inf': the value is not a finite number"},
      {"0:1,", false, zarn::any_value, {}, {}, "breakpoint 2 '': each breakpoint must be TIME:VALUE"},
      {"0:1,5", false, zarn::any_value, {}, {}, "breakpoint 2 '5': each breakpoint must be TIME:VALUE"},
      {"0:2,1:0", false, zarn::above_zero, {}, {}, "breakpoint 2 '1:0': the value must be above zero"},
      {"0:0,1:2,2:1.5", false, zarn::rising_value, {}, {}, "breakpoint 3 '2:1.5': the output times must rise"},
      {"0:0,1:1,2:1", false, zarn::rising_value, {}, {}, "breakpoint 3 '2:1': the output times must rise"},  // a slope of 0 the inverse would divide by
      {"0:0,1:1e-9", false, zarn::rising_value, {0, 1}, {0, 1e-9}, ""},
      {"# a curve\n0 1\n\n 2\t3 # cents\r\n", true, zarn::any_value, {0, 2}, {1, 3}, ""},
      {"0  1\n1\t 2\n2 \t3", true, zarn::any_value, {0, 1, 2}, {1, 2, 3}, ""},  // any run of blanks between
      {"0 1\n1 x\n", true, zarn::any_value, {}, {}, "2: breakpoint 2 '1 x': the value is not a finite number"},
      {"0 1\n\n1\n", true, zarn::any_value, {}, {}, "3: breakpoint 2 '1': each line must hold a time and a value"},
      {"# nothing\n", true, zarn::any_value, {}, {}, "the file holds no breakpoint"},
  };
  for (const auto& c : cases) {
    std::string problem;
    const zarn::Curve curve = zarn::parse_curve(c.text, c.in_file, c.rule, problem);
    EXPECT_EQ(problem, c.problem) << c.text;
    EXPECT_EQ(curve.times, c.times) << c.text;
    EXPECT_EQ(curve.values, c.values) << c.text;
  }
  for (const char* text : {"0:1", "@f", "1:2,3:4"}) EXPECT_TRUE(zarn::is_curve_text(text)) << text;
  for (const char* text : {"100", "-3.5", "", "1e3"}) EXPECT_FALSE(zarn::is_curve_text(text)) << text;
}

}  // namespace

// The text and ticks of a picture's markup: round ticks, and text that is XML whatever it holds.
#include "render/markup.hpp"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(Markup, Ticks) {
  const struct {
    double lo, hi;
    bool log;
    std::vector<double> ticks;
  } cases[] = {
      {0, 1, false, {0, 0.1, 0.2, 0.30000000000000004, 0.4, 0.5, 0.6000000000000001, 0.7000000000000001, 0.8, 0.9, 1}},
      {435, 2230, false, {600, 800, 1000, 1200, 1400, 1600, 1800, 2000, 2200}},  // 179.5 a tick rounds up to 200
      {-0.26, 0.26, false, {-0.2, 0, 0.2}},
      {40, 17000, true, {50, 100, 200, 500, 1000, 2000, 5000, 10000}},
      {430, 460, true, {430, 435, 440, 445, 450, 455, 460}},  // less than a decade: linear ticks
      {1e12, 1e12 + 0.001, false, {}},  // whole steps that a double cannot tell apart: none
      {1e11, 1e11 + 1e-4, false, {}},
      {0, 100, true, {0, 20, 40, 60, 80, 100}},         // no decade from 0: linear ticks, and an end
      {4.9e-324, 1e-323, true, {}},                     // decades of a denormal: none, and an end
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.lo) + " to " + std::to_string(c.hi));
    EXPECT_EQ(c.log ? zarn::detail::log_ticks(c.lo, c.hi) : zarn::detail::linear_ticks(c.lo, c.hi, c.lo < 0 ? 5 : 10), c.ticks);
  }
}

// Text in the picture is XML whatever the name holds: control bytes and broken UTF-8 become
// U+FFFD, and characters of other scripts stay as they are.
TEST(Markup, TextEscapedForXml) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"a<b>&\"c\"", "a&lt;b&gt;&amp;&quot;c&quot;"},
      {"caf\xc3\xa9 \xe2\x99\xaa", "caf\xc3\xa9 \xe2\x99\xaa"},
      {"bell\x07", "bell\xef\xbf\xbd"},
      {"cut \xc3", "cut \xef\xbf\xbd"},
      {"latin-1 \xe9t\xe9", "latin-1 \xef\xbf\xbdt\xef\xbf\xbd"},
      {"surrogate \xed\xa0\x80", "surrogate \xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},
  };
  for (const auto& c : cases) EXPECT_EQ(zarn::detail::xml_escape(c.in), c.out) << c.in;
}

}  // namespace

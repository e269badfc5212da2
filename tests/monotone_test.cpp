// The shape-preserving cubic: never beyond an interval's values, on random data with gaps and
// jumps and on the example analysis; straight lines reproduced; slopes worked out by hand.
#include "fit/monotone.hpp"

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support.hpp"

#include "formats/formats.hpp"
#include "fit/resample.hpp"
#include "run_binary.hpp"

namespace {

// Checks that every value at xi lies within the values of the interval that holds its time,
// and that a time on a knot gives the knot's value.
void expect_within(const std::vector<double>& x, const std::vector<double>& y, const std::vector<double>& xi,
                   const std::vector<double>& yi) {
  std::size_t k = 0;
  for (std::size_t j = 0; j < xi.size(); ++j) {
    while (k + 2 < x.size() && xi[j] > x[k + 1]) ++k;
    const double lo = std::min(y[k], y[k + 1]), hi = std::max(y[k], y[k + 1]);
    ASSERT_GE(yi[j], lo) << "at " << xi[j];
    ASSERT_LE(yi[j], hi) << "at " << xi[j];
    if (xi[j] == x[k]) {
      ASSERT_EQ(yi[j], y[k]);
    }
    if (xi[j] == x[k + 1]) {
      ASSERT_EQ(yi[j], y[k + 1]);
    }
  }
}

TEST(Monotone, NeverLeavesAnIntervalsRangeOnRandomDataWithGapsAndJumps) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (int trial = 0; trial < 300; ++trial) {
    const int n = 2 + trial % 40;
    std::vector<double> x(static_cast<std::size_t>(n)), y(x.size());
    double t = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
      x[i] = t;
      t += u(rng) < 0.1 ? 0.1 + u(rng) : 0.001 + 0.01 * u(rng);        // gaps now and then
      y[i] = u(rng) < 0.1 ? 20000 * u(rng) : 440 + 5 * u(rng);          // and jumps
    }
    std::vector<double> xi;
    for (double q = x.front(); q < x.back(); q += 0.0013) xi.push_back(q);
    xi.insert(xi.end(), x.begin(), x.end());
    std::sort(xi.begin(), xi.end());
    std::vector<double> yi(xi.size());
    zarn::imonotone(x.data(), y.data(), n, xi.data(), yi.data(), static_cast<int>(xi.size()));
    expect_within(x, y, xi, yi);
  }
}

TEST(Monotone, NeverLeavesAnIntervalsRangeOnTheExample) {
  const zarn::PartialSet read = zarn::read_input(zarn_test::slurp(std::string(ZARN_SOURCE_DIR) + "/examples/violin.txt"), "violin.txt");
  zarn::ResampledSet set = zarn_test::lay_whole_grid(read, 0.001, "violin.txt");
  zarn::resample(read, set, zarn::Fit::kMonotone);
  for (std::size_t p = 0; p < read.partials.size(); ++p) {
    const zarn::Partial& in = read.partials[p];
    if (in.M() < 2) continue;
    expect_within(in.time, in.freq, set.partials[p].time, set.partials[p].freq);
    expect_within(in.time, in.amp, set.partials[p].time, set.partials[p].amp);
  }
}

TEST(Monotone, SlopesWorkedByHand) {
  const struct {
    std::vector<double> x, y, slopes;
  } cases[] = {
      {{0, 1, 3, 4}, {1, 3, 7, 9}, {2, 2, 2, 2}},     // a straight line: its slope everywhere
      {{0, 1, 2}, {0, 1, 0}, {2, 0, -2}},             // a peak: flat on it; ends from the parabola 2x - x^2
      {{0, 1, 2, 3}, {0, 0, 5, 5}, {0, 0, 0, 0}},     // a step: flat at every knot, no overshoot
      {{0, 1, 2}, {0, 1, 10}, {0, 2, 13}},            // 4x^2 - 3x: its -3 at 0 would go down, so 0; 2 * min secant
      {{0, 1, 2}, {0, 1, -3}, {2, 0, -6.5}},          // the parabola's 3.5 at 0 would overshoot: twice the first secant
  };
  for (const auto& c : cases) {
    std::vector<double> yd(c.x.size());
    zarn::monotone_slopes(c.x.data(), c.y.data(), yd.data(), static_cast<int>(c.x.size()));
    EXPECT_EQ(yd, c.slopes);
  }
}

}  // namespace

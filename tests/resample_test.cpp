// The two grids: each partial's own, from its first breakpoint, and the aligned one shared
// by all partials, at whole multiples of the step.
#include "fit/resample.hpp"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support.hpp"

#include "model/failure.hpp"

namespace {

zarn::PartialSet with_times(const std::vector<std::vector<double>>& times) {
  zarn::PartialSet set;
  for (const auto& t : times) {
    set.partials.emplace_back();
    set.partials.back().time = t;
    set.partials.back().freq.assign(t.size(), 440.0);
    set.partials.back().amp.assign(t.size(), 0.5);
  }
  return set;
}

TEST(Grid, AlignedTimesAreWholeMultiplesWithinTheSpan) {
  const struct {
    const char* what;
    std::vector<double> times;
    double step;
    long long first_k;
    std::vector<double> grid;
  } cases[] = {
      {"both ends on the grid are kept", {0.1, 0.2, 0.3, 0.4}, 0.1, 1, {0.1, 0.2, 0.30000000000000004, 0.4}},
      {"0.3 is not within [0.1, 0.3] as 3 * 0.1", {0.1, 0.3}, 0.1, 1, {0.1, 0.2}},
      {"off the grid at both ends", {0.12, 0.2, 1.37}, 0.5, 1, {0.5, 1.0}},
      {"negative times", {-0.26, 0.0, 0.26}, 0.25, -1, {-0.25, 0.0, 0.25}},
      {"one breakpoint on the grid", {0.5}, 0.25, 2, {0.5}},
      {"one breakpoint off the grid", {0.6}, 0.25, 0, {}},
      {"a span between two grid times", {0.01, 0.02, 0.03}, 0.05, 0, {}},
      {"no breakpoints", {}, 0.1, 0, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const zarn::ResampledSet grid = zarn_test::lay_aligned_grid(with_times({c.times}), c.step, "in.txt");
    EXPECT_EQ(grid.partials[0].time, c.grid);
    EXPECT_EQ(grid.partials[0].first_k, c.first_k);
    EXPECT_TRUE(grid.aligned);
  }
}

TEST(Grid, TimesTooFarFromZeroAreRefused) {
  zarn::PartialSet set = with_times({{1e15, 1e15 + 1}});
  set.partials[0].place = 7;
  try {
    zarn_test::lay_aligned_grid(set, 1e-5, "in.txt");
    FAIL() << "accepted";
  } catch (const zarn::Failure& f) {
    EXPECT_EQ(f.message, "zarn: in.txt:7: this partial's times are too far from 0 to be counted in whole time steps\n");
  }
}

// Breakpoints so close that a cubic's terms overflow are refused, named, for the cubic fits
// only: the partial list's times, or a --time-scale of 1e-300, would otherwise give NaN.
TEST(Resample, BreakpointsTooCloseForACubic) {
  const struct {
    double apart;
    zarn::Fit fit;
    bool refused;
  } cases[] = {{0.9e-100, zarn::Fit::kSpline, true}, {0.9e-100, zarn::Fit::kMonotone, true}, {0.9e-100, zarn::Fit::kLinear, false},
               {1.1e-100, zarn::Fit::kSpline, false}, {1e-300, zarn::Fit::kMonotone, true}};
  for (const auto& c : cases) {
    zarn::PartialSet set;
    set.partials.resize(2);
    zarn::add_breakpoint(set.partials[0], 0, 440, 0.1);
    zarn::add_breakpoint(set.partials[0], 1, 440, 0.1);
    for (double t : {0.0, c.apart, 1.0}) zarn::add_breakpoint(set.partials[1], t, 440 + 1e6 * t, 0.1);
    set.partials[1].place = 7;
    try {
      const zarn::GridPlan plan = zarn::plan_grid(set, 0.01, zarn::GridKind::kOwn, "in.txt", c.fit);
      EXPECT_FALSE(c.refused) << c.apart;
      zarn::ResampledSet grid = zarn::lay_planned(set, plan);
      zarn::resample(set, grid, c.fit);
      for (double f : grid.partials[1].freq) ASSERT_TRUE(std::isfinite(f)) << c.apart;
    } catch (const zarn::Failure& f) {
      EXPECT_TRUE(c.refused) << c.apart;
      EXPECT_NE(f.message.find("in.txt:7: two of this partial's breakpoints lie"), std::string::npos) << f.message;
    }
  }
}

}  // namespace

// Laying each grid as it is fitted, releasing the input, gives what laying every grid first
// gives, on each kind of grid, and leaves the input empty.
TEST(Grid, ResamplingFromThePlanIsLayingThenResampling) {
  for (const zarn::GridKind kind : {zarn::GridKind::kOwn, zarn::GridKind::kWhole, zarn::GridKind::kAligned}) {
    zarn::PartialSet set = with_times({{0.12, 0.2, 0.31, 0.47, 0.5}, {}, {0.3}, {1.0, 1.26}});
    set.partials[0].freq = {440, 450, 445, 430, 441};
    const zarn::GridPlan plan = zarn::plan_grid(set, 0.05, kind, "in.txt");
    zarn::ResampledSet laid = zarn::lay_planned(set, plan);
    zarn::resample(set, laid);
    const zarn::ResampledSet planned = zarn::resample_releasing(set, plan);
    ASSERT_EQ(planned.P(), laid.P());
    EXPECT_EQ(planned.aligned, kind == zarn::GridKind::kAligned);
    for (int p = 0; p < laid.P(); ++p) {
      const auto& a = laid.partials[static_cast<std::size_t>(p)];
      const auto& b = planned.partials[static_cast<std::size_t>(p)];
      EXPECT_EQ(b.N(), plan.points[static_cast<std::size_t>(p)]);
      EXPECT_EQ(std::vector<std::vector<double>>({a.time, a.freq, a.amp}), std::vector<std::vector<double>>({b.time, b.freq, b.amp}));
      EXPECT_EQ(a.first_k, b.first_k);
      EXPECT_EQ(set.partials[static_cast<std::size_t>(p)].M(), 0);
    }
  }
}

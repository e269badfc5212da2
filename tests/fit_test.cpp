// The table of fits, and the whole grid: it reaches the last breakpoint, and resampling a
// result again at the same step changes nothing.
#include "fit/fit.hpp"

#include <string>

#include <gtest/gtest.h>

#include "support.hpp"

#include "formats/formats.hpp"
#include "fit/resample.hpp"
#include "run_binary.hpp"

namespace {

TEST(Fit, NamesFromTheTable) {
  EXPECT_EQ(zarn::fit_names(), "spline, monotone or linear");
  for (const zarn::FitRow& row : zarn::fit_table()) EXPECT_EQ(zarn::fit_named(row.name), row.fit);
  EXPECT_EQ(zarn::fit_named("cubic"), std::nullopt);
}

TEST(Fit, WholeGridReachesTheLastBreakpoint) {
  const struct {
    std::vector<double> times;
    double step;
    std::vector<double> grid;
  } cases[] = {
      {{0, 1}, 0.25, {0, 0.25, 0.5, 0.75, 1}},
      {{0, 0.3}, 0.1, {0, 0.1, 0.2}},  // 0 + 3 * 0.1 comes out above 0.3: not on the grid
      {{0.5}, 0.1, {0.5}},
      {{}, 0.1, {}},
  };
  for (const auto& c : cases) {
    zarn::PartialSet set;
    set.partials.resize(1);
    set.partials[0].time = c.times;
    set.partials[0].freq.assign(c.times.size(), 440);
    set.partials[0].amp.assign(c.times.size(), 0.5);
    const zarn::ResampledSet grid = zarn_test::lay_whole_grid(set, c.step, "in");
    EXPECT_EQ(grid.partials[0].time, c.grid);
  }
}

// The example, resampled on its whole grids, written, read and resampled again: the same file,
// with every fit.
TEST(Fit, WholeGridResamplingIsIdempotent) {
  for (const zarn::FitRow& row : zarn::fit_table()) {
    SCOPED_TRACE(std::string(row.name));
    std::string once, twice;
    zarn::PartialSet read = zarn::read_input(zarn_test::slurp(std::string(ZARN_SOURCE_DIR) + "/examples/violin.txt"), "violin.txt");
    for (std::string* out : {&once, &twice}) {
      zarn::ResampledSet set = zarn_test::lay_whole_grid(read, 0.01, "in");
      zarn::resample(read, set, row.fit);
      zarn::Output o(out);
      zarn::result_writer(set)(o);
      o.flush();
      read = zarn::read_input(*out, "again");
    }
    EXPECT_EQ(once, twice);
  }
}

// The fit a run takes unless --fit says: monotone for an analysis (which the spline would
// swing beyond), the spline for partials read from a file, whatever its format.
TEST(Fit, ChosenByTheInputUnlessAsked) {
  using Places = zarn::PartialSet::Places;
  const struct {
    std::optional<zarn::Fit> asked;
    Places places;
    zarn::Fit chosen;
  } cases[] = {
      {std::nullopt, Places::kSeconds, zarn::Fit::kMonotone}, {std::nullopt, Places::kLines, zarn::Fit::kSpline},
      {std::nullopt, Places::kBytes, zarn::Fit::kSpline},     {zarn::Fit::kSpline, Places::kSeconds, zarn::Fit::kSpline},
      {zarn::Fit::kLinear, Places::kLines, zarn::Fit::kLinear},
  };
  for (const auto& c : cases) {
    zarn::PartialSet set;
    set.places = c.places;
    EXPECT_EQ(zarn::fit_for(c.asked, set), c.chosen) << static_cast<int>(c.places);
  }
}

}  // namespace

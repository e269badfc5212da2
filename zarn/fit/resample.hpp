// The uniform time grid laid over every partial, and the resampling of its two tracks.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fit/fit.hpp"
#include "model/partials.hpp"

namespace zarn {

/// Grid points of a partial: (last time - first time) / step, truncated; throws Failure past
/// INT_MAX, naming the partial's place in `file`.
int grid_points(const Partial& part, double step, const PartialSet& set, const std::string& file);

/// Points of a partial on the aligned grid, the whole multiples k * step within [first, last];
/// sets first_k to the first k. Throws Failure past INT_MAX points.
int aligned_points(const Partial& part, double step, long long& first_k, const PartialSet& set, const std::string& file);

/// Points of a partial on its whole grid: first + k * step for every k >= 0 with
/// first + k * step <= last as computed, so that the grid reaches the last breakpoint
/// whenever it falls on it. Throws Failure past INT_MAX points.
int whole_points(const Partial& part, double step, const PartialSet& set, const std::string& file);

/// Which grid each partial takes: its own (from its first breakpoint), its whole grid, or
/// the aligned grid.
enum class GridKind { kOwn, kWhole, kAligned };

/// A grid counted and checked, with the memory it needs, but not yet laid: each partial's
/// number of points and, on the aligned grid, its first k.
struct GridPlan {
  double step = 0;
  bool aligned = false;
  std::vector<int> points;
  std::vector<long long> first_k;  // on the aligned grid only
};

/// The first gap between two breakpoints that is too small for `fit`: under 1e-100 s, where a
/// cubic fit's terms would overflow (the linear fit takes any times that rise); 0 for none.
double too_close(const Breakpoints& part, Fit fit);

/// Throws Failure, naming the partial's place in `file`, where too_close finds a gap.
void check_spacing(const Partial& part, Fit fit, const PartialSet& set, const std::string& file);

/// Counts every partial's grid of `kind` and checks it (and, where `fit` is given, its
/// spacing for that fit) and the memory it needs; throws Failure.
GridPlan plan_grid(const PartialSet& set, double step, GridKind kind, const std::string& file, std::optional<Fit> fit = std::nullopt);

/// Lays a planned grid: for each partial its times, room made for the fitted values.
ResampledSet lay_planned(const PartialSet& set, const GridPlan& plan);

/// Resamples every partial on its laid grid with `fit`; the input is kept.
void resample(const PartialSet& set, ResampledSet& grid, Fit fit = Fit::kSpline);

/// The set of a planned grid before any partial is laid: its step, and one empty partial for each.
ResampledSet planned_set(const GridPlan& plan);

/// Lays partial p's planned grid into `out` and fits the partial's breakpoints on it, for
/// callers that hold the breakpoints elsewhere (the Python module).
void lay_and_fit(const GridPlan& plan, std::size_t p, const Breakpoints& part, const Origin& origin, Fit fit, Resampled& out);

/// Resamples every partial on the grid planned with `fit`, laying each partial's grid just
/// before its fit and giving its breakpoints back just after, so that the input, the grid and
/// the result never fill memory together: for runs where nothing else needs the input.
ResampledSet resample_releasing(PartialSet& set, const GridPlan& plan, Fit fit = Fit::kSpline);

}  // namespace zarn

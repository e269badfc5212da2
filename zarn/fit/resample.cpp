#include "fit/resample.hpp"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <utility>
#include <vector>

#include "model/failure.hpp"
#include "model/memory.hpp"

namespace zarn {

namespace {

constexpr double kMaxPoints = 2147483647.0;
const char* const kTooMany = "this partial would have more than 2147483647 resampled breakpoints at this time step";

}  // namespace

int grid_points(const Partial& part, double step, const PartialSet& set, const std::string& file) {
  // A partial of one breakpoint spans no time, and one of none has no times at all.
  if (part.M() < 2) return 0;
  const double span = part.time[static_cast<std::size_t>(part.M() - 1)] - part.time[0];
  const double n = span / step;  // never negative: the readers keep times ascending
  if (!(n < kMaxPoints + 1)) throw failure_at(set, part, file, kTooMany);
  return static_cast<int>(n);
}

int aligned_points(const Partial& part, double step, long long& first_k, const PartialSet& set, const std::string& file) {
  first_k = 0;
  if (part.M() < 1) return 0;
  const double first = part.time[0];
  const double last = part.time[static_cast<std::size_t>(part.M() - 1)];
  const double lo = std::ceil(first / step), hi = std::floor(last / step);
  if (!(std::fabs(lo) < 9e15 && std::fabs(hi) < 9e15))
    throw failure_at(set, part, file, "this partial's times are too far from 0 to be counted in whole time steps");
  // The quotients may be off by one after rounding; the times themselves are k * step.
  auto k_first = static_cast<long long>(lo), k_last = static_cast<long long>(hi);
  while (static_cast<double>(k_first - 1) * step >= first) --k_first;
  while (static_cast<double>(k_first) * step < first) ++k_first;
  while (static_cast<double>(k_last + 1) * step <= last) ++k_last;
  while (static_cast<double>(k_last) * step > last) --k_last;
  if (k_last < k_first) return 0;
  if (static_cast<double>(k_last - k_first) + 1 > kMaxPoints) throw failure_at(set, part, file, kTooMany);
  first_k = k_first;
  return static_cast<int>(k_last - k_first + 1);
}

int whole_points(const Partial& part, double step, const PartialSet& set, const std::string& file) {
  if (part.M() < 1) return 0;
  const double first = part.time[0], last = part.time[static_cast<std::size_t>(part.M() - 1)];
  const double n = (last - first) / step;
  if (!(n < kMaxPoints)) throw failure_at(set, part, file, kTooMany);
  // The quotient may be off by one after rounding; the times themselves are first + k * step.
  int count = static_cast<int>(n) + 1;
  while (count < 2147483647 && first + count * step <= last) ++count;
  while (count > 1 && first + (count - 1) * step > last) --count;
  return count;
}

double too_close(const Breakpoints& part, Fit fit) {
  if (fit == Fit::kLinear) return 0;
  constexpr double kClosest = 1e-100;  // 1/h^2 of a frequency's change stays far within range
  for (int j = 1; j < part.M; ++j) {
    const double apart = part.time[j] - part.time[j - 1];
    if (apart < kClosest) return apart;
  }
  return 0;
}

void check_spacing(const Partial& part, Fit fit, const PartialSet& set, const std::string& file) {
  if (const double apart = too_close(breakpoints_of(part), fit); apart > 0) {
    char what[200];
    std::snprintf(what, sizeof what, "two of this partial's breakpoints lie %g s apart, too close for the %s fit; --fit=linear joins them",
                  apart, std::string(fit_table()[static_cast<std::size_t>(fit)].name).c_str());
    throw failure_at(set, part, file, what);
  }
}

GridPlan plan_grid(const PartialSet& set, double step, GridKind kind, const std::string& file, std::optional<Fit> fit) {
  GridPlan plan;
  plan.step = step;
  plan.aligned = kind == GridKind::kAligned;
  plan.points.reserve(set.partials.size());
  if (plan.aligned) plan.first_k.resize(set.partials.size());
  double total = 0;
  for (std::size_t p = 0; p < set.partials.size(); ++p) {
    const Partial& part = set.partials[p];
    plan.points.push_back(plan.aligned             ? aligned_points(part, step, plan.first_k[p], set, file)
                          : kind == GridKind::kWhole ? whole_points(part, step, set, file)
                                                     : grid_points(part, step, set, file));
    if (fit) check_spacing(part, *fit, set, file);
    total += plan.points.back();
  }
  check_memory(total * 3 * sizeof(double), "the grid");
  return plan;
}

namespace {

// Lays partial p's planned grid: the times from k afresh, so that no rounding accumulates
// along the grid.
void lay_partial(const GridPlan& plan, std::size_t p, const Breakpoints& part, const Origin& origin, Resampled& r) {
  r.origin = origin;
  const int n = plan.points[p];
  r.time.reserve(static_cast<std::size_t>(n));
  if (plan.aligned) {
    r.first_k = plan.first_k[p];
    for (int k = 0; k < n; ++k) r.time.push_back(static_cast<double>(r.first_k + k) * plan.step);
  } else {
    for (int k = 0; k < n; ++k) r.time.push_back(part.time[0] + k * plan.step);  // n > 0: the partial has points
  }
}

}  // namespace

ResampledSet planned_set(const GridPlan& plan) {
  ResampledSet grid;
  grid.step = plan.step;
  grid.aligned = plan.aligned;
  grid.partials.resize(plan.points.size());
  return grid;
}

ResampledSet lay_planned(const PartialSet& set, const GridPlan& plan) {
  ResampledSet grid = planned_set(plan);
  grid.noise = set.noise;
  grid.length = set.rate > 0 ? static_cast<double>(set.samples) / set.rate : 0;
  for (std::size_t p = 0; p < set.partials.size(); ++p)
    lay_partial(plan, p, breakpoints_of(set.partials[p]), set.partials[p].origin, grid.partials[p]);
  return grid;
}

void resample(const PartialSet& set, ResampledSet& grid, Fit fit) {
  for (std::size_t p = 0; p < set.partials.size(); ++p) fit_partial(fit, breakpoints_of(set.partials[p]), grid.partials[p]);
}

namespace {

// Gives a partial's breakpoints back.
void release(Partial& part) {
  std::vector<double>().swap(part.time);
  std::vector<double>().swap(part.freq);
  std::vector<double>().swap(part.amp);
}

}  // namespace

void lay_and_fit(const GridPlan& plan, std::size_t p, const Breakpoints& part, const Origin& origin, Fit fit, Resampled& out) {
  lay_partial(plan, p, part, origin, out);
  fit_partial(fit, part, out);
}

ResampledSet resample_releasing(PartialSet& set, const GridPlan& plan, Fit fit) {
  ResampledSet grid = planned_set(plan);
  grid.noise = std::move(set.noise);
  grid.length = set.rate > 0 ? static_cast<double>(set.samples) / set.rate : 0;
  for (std::size_t p = 0; p < set.partials.size(); ++p) {
    lay_and_fit(plan, p, breakpoints_of(set.partials[p]), set.partials[p].origin, fit, grid.partials[p]);
    release(set.partials[p]);  // its memory goes back before the next partial takes more
  }
  return grid;
}

}  // namespace zarn

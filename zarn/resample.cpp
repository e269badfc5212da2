#include "resample.hpp"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "failure.hpp"
#include "memory.hpp"
#include "number_parse.hpp"

namespace zarn {

double parse_time_step(std::string_view text) {
  double step = 0;
  if (!parse_double(text, step) || !std::isfinite(step) || !(step > 0.0))
    throw failure("the time step must be a number above zero, not " + quote(text));
  return step;
}

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

namespace {

enum class Grid { kOwn, kWhole, kAligned };

// Counts every partial's grid points (and checks them and the memory they need), then lays
// each grid: the times from k afresh, so that no rounding accumulates along the grid.
ResampledSet lay(const PartialSet& set, double step, const std::string& file, Grid kind) {
  const bool aligned = kind == Grid::kAligned;
  ResampledSet grid;
  grid.step = step;
  grid.aligned = aligned;
  grid.partials.resize(set.partials.size());
  std::vector<int> counts;
  counts.reserve(set.partials.size());
  double total = 0;
  for (std::size_t p = 0; p < set.partials.size(); ++p) {
    const Partial& part = set.partials[p];
    counts.push_back(aligned                ? aligned_points(part, step, grid.partials[p].first_k, set, file)
                     : kind == Grid::kWhole ? whole_points(part, step, set, file)
                                            : grid_points(part, step, set, file));
    total += counts.back();
  }
  check_memory(total * 3 * sizeof(double), "the grid");
  for (std::size_t p = 0; p < set.partials.size(); ++p) {
    Resampled& r = grid.partials[p];
    r.origin = set.partials[p].origin;
    // Room for the grid times now; the fitted values come with the resampling.
    r.time.reserve(static_cast<std::size_t>(counts[p]));
    for (int k = 0; k < counts[p]; ++k)
      r.time.push_back(aligned ? static_cast<double>(r.first_k + k) * step : set.partials[p].time[0] + k * step);
  }
  return grid;
}

}  // namespace

ResampledSet lay_grid(const PartialSet& set, double step, const std::string& file) { return lay(set, step, file, Grid::kOwn); }

ResampledSet lay_whole_grid(const PartialSet& set, double step, const std::string& file) {
  return lay(set, step, file, Grid::kWhole);
}

ResampledSet lay_aligned_grid(const PartialSet& set, double step, const std::string& file) {
  return lay(set, step, file, Grid::kAligned);
}

void resample(const PartialSet& set, ResampledSet& grid, Fit fit) {
  for (std::size_t p = 0; p < set.partials.size(); ++p) fit_partial(fit, set.partials[p], grid.partials[p]);
}

void resample_releasing(PartialSet& set, ResampledSet& grid, Fit fit) {
  for (std::size_t p = 0; p < set.partials.size(); ++p) {
    Partial& part = set.partials[p];
    fit_partial(fit, part, grid.partials[p]);
    // Its memory goes back before the next partial takes more.
    std::vector<double>().swap(part.time);
    std::vector<double>().swap(part.freq);
    std::vector<double>().swap(part.amp);
  }
}

}  // namespace zarn

#include "resample.hpp"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "failure.hpp"
#include "spline.hpp"
#include "text_io.hpp"

namespace zarn {

double parse_time_step(std::string_view text) {
  double step = 0;
  if (!parse_double(text, step) || !std::isfinite(step) || !(step > 0.0))
    throw failure("the time step must be a number above zero, not " + quote(text));
  return step;
}

int grid_points(const Partial& part, double step, const std::string& file) {
  // A partial of one breakpoint spans no time, and one of none has no times at all.
  if (part.M() < 2) return 0;
  const double span = part.time[static_cast<std::size_t>(part.M() - 1)] - part.time[0];
  const double n = span / step;  // never negative: the reader keeps times ascending
  if (!(n < 2147483648.0))
    throw failure(file, part.line, "this partial would have more than 2147483647 resampled breakpoints at this time step");
  return static_cast<int>(n);
}

void lay_grid(PartialSet& set, double step, const std::string& file) {
  std::vector<int> counts;
  counts.reserve(set.partials.size());
  double total = 0;
  for (const Partial& part : set.partials) {
    counts.push_back(grid_points(part, step, file));
    total += counts.back();
  }
  // Zero-filling arrays larger than the machine's memory would not fail cleanly: the system
  // would kill the process part-way. Refuse such a grid before touching any of it.
  const double bytes = total * 3 * sizeof(double);
  const double memory = static_cast<double>(::sysconf(_SC_PHYS_PAGES)) * static_cast<double>(::sysconf(_SC_PAGESIZE));
  if (memory > 0 && bytes > memory) {
    char gib[32];
    std::snprintf(gib, sizeof gib, "%.1f", bytes / (1 << 30));
    throw failure("out of memory: the grid needs " + std::string(gib) +
                  " GiB for its resampled breakpoints, more than this machine has");
  }
  for (std::size_t p = 0; p < set.partials.size(); ++p) {
    Partial& part = set.partials[p];
    const int N = counts[p];
    part.rtime.assign(static_cast<std::size_t>(N), 0.0);
    part.rfreq.assign(static_cast<std::size_t>(N), 0.0);
    part.ramp.assign(static_cast<std::size_t>(N), 0.0);
    // Each time from k afresh, so that no rounding accumulates along the grid.
    for (int k = 0; k < N; ++k) part.rtime[static_cast<std::size_t>(k)] = part.time[0] + k * step;
  }
}

void resample_partial(Partial& part) {
  ispline_gen(part.time.data(), part.freq.data(), part.M(), part.rtime.data(), part.rfreq.data(), part.N());
  ispline_gen(part.time.data(), part.amp.data(), part.M(), part.rtime.data(), part.ramp.data(), part.N());
}

void resample(PartialSet& set) {
  for (Partial& part : set.partials) resample_partial(part);
}

}  // namespace zarn

// The uniform time grid laid over every partial, and the resampling of its two tracks.
#pragma once

#include <string>
#include <string_view>

#include "partial_file.hpp"

namespace zarn {

/// Time step used when the command line gives none.
constexpr double kDefaultTimeStep = 0.05;

/// Reads the time step argument: a whole number, finite and above zero; throws Failure otherwise.
double parse_time_step(std::string_view text);

/// Grid points of a partial: (last time - first time) / step, truncated; throws Failure past INT_MAX.
int grid_points(const Partial& part, double step, const PartialSet& set, const std::string& file);

/// Points of a partial on the aligned grid, the whole multiples k * step within [first, last];
/// sets part.first_k to the first k. Throws Failure past INT_MAX points.
int aligned_points(Partial& part, double step, const PartialSet& set, const std::string& file);

/// Checks every partial's grid, then allocates its resampled arrays and fills in the grid
/// times: first + k * step for k = 0 .. grid_points - 1.
void lay_grid(PartialSet& set, double step, const std::string& file);

/// The same with the aligned grid, shared by all partials so that frames line up: the times
/// k * step with first <= k * step <= last.
void lay_aligned_grid(PartialSet& set, double step, const std::string& file);

/// Evaluates a partial's frequency and amplitude splines at its grid times.
void resample_partial(Partial& part);

/// Resamples every partial of a set whose grid is laid; without `keep_input`, each partial's
/// input breakpoints are released once it is resampled, so that the two never fill memory
/// together.
void resample(PartialSet& set, bool keep_input = true);

}  // namespace zarn

// The uniform time grid laid over every partial, and the resampling of its two tracks.
#pragma once

#include <string>
#include <string_view>

#include "partials.hpp"

namespace zarn {

/// Time step used when the command line gives none.
constexpr double kDefaultTimeStep = 0.05;

/// Reads the time step argument: a number, finite and above zero; throws Failure otherwise.
double parse_time_step(std::string_view text);

/// Grid points of a partial: (last time - first time) / step, truncated; throws Failure past
/// INT_MAX, naming the partial's place in `file`.
int grid_points(const Partial& part, double step, const PartialSet& set, const std::string& file);

/// Points of a partial on the aligned grid, the whole multiples k * step within [first, last];
/// sets first_k to the first k. Throws Failure past INT_MAX points.
int aligned_points(const Partial& part, double step, long long& first_k, const PartialSet& set, const std::string& file);

/// Checks every partial's grid and the memory it needs, then lays it: for each partial, the
/// times first + k * step for k = 0 .. grid_points - 1, room made for the fitted values.
ResampledSet lay_grid(const PartialSet& set, double step, const std::string& file);

/// The same with the aligned grid, shared by all partials so that frames line up: the times
/// k * step with first <= k * step <= last.
ResampledSet lay_aligned_grid(const PartialSet& set, double step, const std::string& file);

/// Evaluates a partial's frequency and amplitude splines at its grid times.
void resample_partial(const Partial& part, Resampled& out);

/// Resamples every partial on its laid grid; the input is kept.
void resample(const PartialSet& set, ResampledSet& grid);

/// The same, giving each partial's breakpoints back as soon as it is resampled, so that the
/// input and the result never fill memory together: for runs where nothing else needs them.
void resample_releasing(PartialSet& set, ResampledSet& grid);

}  // namespace zarn

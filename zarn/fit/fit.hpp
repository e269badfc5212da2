// The fits a partial's two tracks can be resampled with, as one table: the not-a-knot spline
// (smooth, exact continuity), the shape-preserving cubic (never beyond its breakpoints'
// values) and straight lines.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/partials.hpp"

namespace zarn {

/// The fits, by the order of their rows.
enum class Fit { kSpline, kMonotone, kLinear };

/// One row of the table of fits.
struct FitRow {
  Fit fit;
  std::string_view name;   // as --fit and the Python module name it
  std::string_view about;  // what it is for, in --help
  /// Evaluates the partial's frequencies and amplitudes at out.time, into out.freq and out.amp.
  void (*tracks)(const Breakpoints& part, Resampled& out);
};

/// Every row, the spline first (the default).
const std::vector<FitRow>& fit_table();

/// The fit of a name ("spline", "monotone", "linear").
std::optional<Fit> fit_named(std::string_view name);

/// The names of all fits for messages: "spline, monotone or linear".
std::string fit_names();

/// The fit of a run: the one asked for, else for partials analysed from a sound the monotone
/// one (an analysis has jumps and close breakpoints that a spline would swing across, beyond
/// any value it measured), and for partials read from a file the spline.
Fit fit_for(std::optional<Fit> asked, const PartialSet& input);

/// The partial's two tracks fitted and evaluated at out.time, whose frequencies and amplitudes
/// are filled in, and its phases where it has them (see phase_on_grid).
void fit_partial(Fit fit, const Breakpoints& part, Resampled& out);

/// The partial's phases (which it must have) at out.time into out.phase: between two
/// breakpoints, the cubic that meets both ends' phases and frequencies.
void phase_on_grid(const Breakpoints& part, Resampled& out);

}  // namespace zarn

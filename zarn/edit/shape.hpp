// Changes that vary over the input's time: a transposition, a gain and a gain of the noise
// that follow curves; a time factor that follows one, or markers that say where input times
// go; holds of the sound as it stands at a time; and attacks that keep their own speed under a
// stretch. The partials are made anew at the points of the run's grid (pulled back through
// the map to input times, fitted there as the run fits, and changed by the curves there), so
// that each point of the result follows every curve and map exactly, whatever the breakpoints.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "edit/curve.hpp"
#include "edit/timemap.hpp"
#include "fit/fit.hpp"
#include "fit/resample.hpp"
#include "model/partials.hpp"

namespace zarn {

/// The longest an attack lasts: of a longer climb, only this much keeps its speed (and only
/// where it climbs 6 dB); the rest, like a slow swell, the stretch takes like the rest.
inline constexpr double kLongestAttack = 0.15;

/// What the shape in time asks for; the defaults change nothing.
struct ShapeOptions {
  Curve cents;       // --transpose as a curve: cents over input time
  Curve gain;        // --gain as a curve: dB of amplitude (and of the noise's power)
  Curve noise_gain;  // --noise-gain as a curve: dB of the noise's power
  Curve time_factor; // --time-scale as a curve
  Curve warp;        // --warp: markers (input time, output time)
  std::vector<std::pair<double, double>> freezes;  // --freeze: (input time, seconds held)
  bool keep_attacks = false;                        // --keep-attacks
  double time_number = 1.0;  // --time-scale's one number, which the map takes (set by the edit's row)

  // The run's grid and fit, on whose points the partials are made.
  double step = 0.05;
  GridKind grid = GridKind::kOwn;
  Fit fit = Fit::kSpline;

  /// True where the options map times.
  bool maps_time() const { return !time_factor.empty() || !warp.empty() || !freezes.empty() || keep_attacks; }
  /// True where anything changes.
  bool any() const { return maps_time() || !cents.empty() || !gain.empty() || !noise_gain.empty(); }
};

/// The map of input times to output times the options ask for; with keep_attacks, each of
/// the set's onsets taken at its own speed.
TimeMap time_map(const ShapeOptions& options, const PartialSet& set);

/// Where a hold the options ask for (--freeze) lies past `end` (the input's last time), which
/// holds nothing there: the warning that says so, without "zarn: warning: "; else empty.
std::string freezes_past(const ShapeOptions& options, double end);

/// The input's last time: its partials' last breakpoint, its noise's last frame, or the end of
/// the sound analysed, the latest.
double input_end(const PartialSet& set);

/// Applies the options to the set: every partial made anew on the run's grid, the noise's
/// frames moved and changed. Throws Failure, naming the partial by its place in `file`, where a
/// value comes out not finite or a partial would begin before 0 s.
void shape(PartialSet& set, const ShapeOptions& options, const std::string& file);

namespace detail {
/// The onsets of the set: (start, peak) of each climb by 6 dB or more of its power in all
/// (the partials' and the noise's, every millisecond) to its peak (the loudest before the
/// first dip of more than 1 dB or 30 ms without a louder point; of a longer climb than
/// kLongestAttack, the loudest within that).
std::vector<std::pair<double, double>> onsets(const PartialSet& set);
}  // namespace detail

}  // namespace zarn

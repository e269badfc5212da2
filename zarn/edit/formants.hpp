// Keeping the formants through a transposition: each partial's level at each breakpoint is
// set to the spectral envelope of the partials sounding then, read at the frequency the
// partial is transposed to, so that a transposed voice keeps its vowels.
#pragma once

#include <functional>
#include <utility>
#include <vector>

#include "model/partials.hpp"

namespace zarn {

/// Moves every breakpoint's level by the envelope's change from its frequency to its frequency
/// times `ratio` (a partial on the envelope takes the envelope's level there, one under it
/// stays as far under it, none goes above it): the
/// envelope of the partials sounding at its time (partials a few hertz apart merged, dips
/// between the peaks left out, levels in dB between the rest by a cubic on a logarithmic
/// scale that never leaves an interval's two values, the lowest's and highest's beyond them).
/// The frequencies are left as they are (the transposition itself is another edit's).
void keep_formants(PartialSet& set, double ratio);

/// The same for a transposition that varies: by `ratio_at(time)` at each breakpoint's time.
void keep_formants(PartialSet& set, const std::function<double(double time)>& ratio_at);

namespace detail {
/// The envelope's points, (log hertz, dB) rising, from the peaks (hertz, dB) sounding at once.
std::vector<std::pair<double, double>> envelope_points(std::vector<std::pair<double, double>> peaks);
/// The envelope through its points at log frequency x.
double envelope_at(const std::vector<std::pair<double, double>>& envelope, double x);
}  // namespace detail

}  // namespace zarn

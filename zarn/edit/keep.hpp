// Keeping only the partials that matter: filters of the partials as read, by band, duration,
// level and energy. Each filter is judged on the partials as read; --max-partials chooses
// among those that the others kept.
#pragma once

#include <optional>
#include <string>

#include "model/partials.hpp"

namespace zarn {

/// The filters asked for; none given keeps every partial.
struct KeepOptions {
  std::optional<double> band_lo, band_hi;  // Hz: the amplitude-weighted mean frequency within [lo, hi]
  std::optional<double> min_duration;      // seconds from the first breakpoint to the last, at least
  std::optional<double> min_level;         // dB of the loudest breakpoint (full scale 1.0), at least
  std::optional<int> max_partials;         // the partials of greatest energy, at most this many

  /// True when any filter is given.
  bool any() const { return band_lo || min_duration || min_level || max_partials; }
};

/// What is wrong with the band [lo, hi]; empty when it can be applied.
std::string band_problem(double lo, double hi);

/// Keeps the partials that every filter given keeps, in their order. A partial with no
/// breakpoints is kept only where no filter is given.
void keep(PartialSet& set, const KeepOptions& options);

namespace detail {
/// The sum over the intervals of (a[i]^2 + a[i+1]^2) / 2 * (t[i+1] - t[i]).
double energy(const Partial& part);
}  // namespace detail

}  // namespace zarn

// Changing the partials as read: time stretched by a factor, frequencies transposed by cents,
// amplitudes changed by decibels. Frequencies are not held within any range afterwards.
#pragma once

#include <string>

#include "model/partials.hpp"

namespace zarn {

/// The changes asked for; the defaults change nothing.
struct ScaleOptions {
  double time = 1.0;   // every time multiplied by this (above zero)
  double cents = 0.0;  // every frequency multiplied by 2^(cents / 1200)
  double gain = 0.0;   // every amplitude multiplied by 10^(gain / 20), in dB

  /// True when anything changes.
  bool any() const { return time != 1.0 || cents != 0.0 || gain != 0.0; }
};

/// What is wrong with a time factor; empty when it can be applied.
std::string time_scale_problem(double factor);

/// Applies the changes to every breakpoint, and the time and gain to the noise (a transposition
/// leaves it). Throws Failure, naming the partial by its place in `file`, where a time,
/// frequency or amplitude comes out not finite, or times no longer rise.
void scale(PartialSet& set, const ScaleOptions& options, const std::string& file);

}  // namespace zarn

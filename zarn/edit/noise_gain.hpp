// Changing the noise alone: its power raised or lowered by decibels, the partials left as they are.
#pragma once

#include <string>

#include "model/partials.hpp"

namespace zarn {

/// The change of the noise asked for; the default changes nothing.
struct NoiseOptions {
  double gain = 0.0;  // every band's power multiplied by 10^(gain / 10), in dB

  /// True when anything changes.
  bool any() const { return gain != 0.0; }
};

/// Applies the change to the set's noise. Throws Failure, naming `file`, where a power comes
/// out not finite.
void change_noise(PartialSet& set, const NoiseOptions& options, const std::string& file);

}  // namespace zarn

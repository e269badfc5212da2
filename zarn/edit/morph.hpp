// Morphing: partials between this sound's and another's. Partials are matched by harmonic
// number (of each sound's own fundamental), or by frequency where they have none; a matched
// pair's frequencies are interpolated on a logarithmic scale and their levels in dB, each
// sound's time taken as a share of its own duration; partials without a match fade.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "model/partials.hpp"

namespace zarn {

/// How far towards the other sound, over time: one weight, or (time, weight) breakpoints in
/// this sound's seconds, between them in proportion, the ends' beyond them.
struct MorphWeight {
  std::vector<std::pair<double, double>> points;  // empty: no morph

  /// The weight at `time`.
  double at(double time) const;
  /// True for one weight throughout.
  bool constant() const;
};

/// The weight from "W" or "T:W,T:W,..." (weights from 0 to 1, times rising); what is wrong
/// with the text in `problem`.
MorphWeight parse_morph_weight(std::string_view text, std::string& problem);

/// Makes `set` the morph between itself and `other` by `weight`: at 0 it is left as it is, at 1
/// (throughout) it becomes `other`.
void morph(PartialSet& set, const PartialSet& other, const MorphWeight& weight);

}  // namespace zarn

// The two text exports of partial editors: one partial after another, or one frame (time)
// after another, with linear amplitudes and six decimals.
//
//   par-text-partials-format                  par-text-frame-format
//   point-type time frequency amplitude       point-type index frequency amplitude
//   partials-count P                          partials-count P
//   partials-data                             frame-count F
//   index npoints start end                   frame-data
//   time freq amp time freq amp ...           time npoints index freq amp index freq amp ...
#pragma once

#include <string_view>

#include "model/partials.hpp"
#include "io/output.hpp"
#include "io/tokens.hpp"

namespace zarn {

/// The first line of the partials export.
constexpr std::string_view kSpearPartialsLine = "par-text-partials-format";
/// The first line of the frame export.
constexpr std::string_view kSpearFramesLine = "par-text-frame-format";

/// Reads either export. In the frame export a partial is one index through consecutive frames:
/// a frame that lacks the index ends it. Throws Failure naming the file, line and token.
PartialSet read_spear(Input& in);

/// Writes every partial that has points, one after another, numbered from 0.
void write_spear_partials(Output& out, const ResampledSet& set);

/// Writes the resampled set, laid on the aligned grid, frame by frame, with the numbers that
/// write_spear_partials gives.
void write_spear_frames(Output& out, const ResampledSet& set);

}  // namespace zarn

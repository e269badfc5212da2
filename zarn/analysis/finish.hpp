// A track made a partial: its frequencies carried back to the frames' centres and corrected
// for the curvature that the window averages away, its edges placed where the energy the
// window saw lies, and the partials too short to keep left out.
#pragma once

#include <limits>

#include "analysis/tracks.hpp"
#include "analysis/transform.hpp"
#include "model/partials.hpp"

namespace zarn {

/// What finishing a track needs to know of the analysis.
struct FinishOptions {
  double hop_seconds;  // between frames
  double spread;       // the window's, in seconds squared (FrameTransform::spread)
  double min_track;    // seconds, first to last breakpoint; 0: tracks seen in fewer than three frames are left out
  const FrameTransform* window = nullptr;  // where given, a partial starts and stops where the
                                           // window saw it begin and end, not at its energy's centre
  double sound_end = std::numeric_limits<double>::infinity();        // seconds, the last sample's time, where known
  double rule_hop = 0;  // seconds: the hop the rules in frames are counted in, where longer than
                        // hop_seconds (the window's own hop): a denser hop keeps what it keeps
};

/// Makes `track` (which it takes apart) a partial in `out`; false when it is left out.
bool finish_track(Track& track, const FinishOptions& options, Partial& out);

}  // namespace zarn

// A resampled set on the aligned grid seen frame by frame: at each grid time, the partials
// that have a point there. The frame formats (SDIF, SPEAR's frame export) are written this way.
#pragma once

#include <functional>
#include <vector>

#include "partial_file.hpp"

namespace zarn {

/// One partial's point within a frame: the partial's position in the set and the point's index.
struct FrameRow {
  int partial = 0;
  int point = 0;
};

/// Calls `frame(time, rows)` for every time of the aligned grid at which any partial has a
/// point, in rising time; rows are ordered by the partials' first point, then by position.
void for_each_frame(const PartialSet& set, const std::function<void(double, const std::vector<FrameRow>&)>& frame);

/// The number of frames that for_each_frame gives.
long count_frames(const PartialSet& set);

}  // namespace zarn

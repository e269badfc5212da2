// A resampled set seen frame by frame: at each time at which any partial has a point, the
// partials that have a point at exactly that time. On the aligned grid that is every grid
// time with its partials. The frame formats (SDIF, the frame export) are written this way.
#pragma once

#include <functional>
#include <vector>

#include "partials.hpp"

namespace zarn {

/// One partial's point within a frame: the partial's position in the set and the point's index.
struct FrameRow {
  int partial = 0;
  int point = 0;
};

/// Calls `frame(time, rows)` for every time at which any partial has a point, in rising time;
/// rows are ordered by the partials' first time, then by position.
void for_each_frame(const ResampledSet& set, const std::function<void(double, const std::vector<FrameRow>&)>& frame);

/// The number of frames that for_each_frame gives.
long count_frames(const ResampledSet& set);

}  // namespace zarn

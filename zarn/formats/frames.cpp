#include "formats/frames.hpp"

#include <algorithm>

namespace zarn {

long count_frames(const ResampledSet& set) {
  long frames = 0;
  for_each_frame(set, [&](double, const std::vector<FrameRow>&) { ++frames; });
  return frames;
}

}  // namespace zarn

#include "frames.hpp"

#include <algorithm>

namespace zarn {

void for_each_frame(const ResampledSet& set, const std::function<void(double, const std::vector<FrameRow>&)>& frame) {
  // Partials with points, by their first time; a sweep over the times keeps those present.
  std::vector<int> order;
  for (std::size_t p = 0; p < set.partials.size(); ++p)
    if (set.partials[p].N() > 0) order.push_back(static_cast<int>(p));
  const auto time_of = [&](const FrameRow& r) {
    return set.partials[static_cast<std::size_t>(r.partial)].time[static_cast<std::size_t>(r.point)];
  };
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return time_of({a, 0}) < time_of({b, 0}); });
  std::vector<FrameRow> pending, rows;  // partials under way, and those at the frame's time
  std::size_t next = 0;
  while (next < order.size() || !pending.empty()) {
    // The frame's time: the earliest next point of any partial under way or about to start.
    double t = next < order.size() ? time_of({order[next], 0}) : time_of(pending.front());
    for (const FrameRow& r : pending) t = std::min(t, time_of(r));
    for (; next < order.size() && time_of({order[next], 0}) == t; ++next) pending.push_back({order[next], 0});
    rows.clear();
    for (const FrameRow& r : pending)
      if (time_of(r) == t) rows.push_back(r);
    frame(t, rows);
    // Rows in the frame move on to their next point; partials that ended leave.
    std::size_t kept = 0;
    for (const FrameRow& r : pending) {
      const bool here = time_of(r) == t;
      const int point = here ? r.point + 1 : r.point;
      if (point < set.partials[static_cast<std::size_t>(r.partial)].N()) pending[kept++] = {r.partial, point};
    }
    pending.resize(kept);
  }
}

long count_frames(const ResampledSet& set) {
  long frames = 0;
  for_each_frame(set, [&](double, const std::vector<FrameRow>&) { ++frames; });
  return frames;
}

}  // namespace zarn

#include "frames.hpp"

#include <algorithm>
#include <numeric>

namespace zarn {

void for_each_frame(const PartialSet& set, const std::function<void(double, const std::vector<FrameRow>&)>& frame) {
  // Partials with points, by their first grid index k; a sweep over k keeps those present.
  std::vector<int> order;
  for (std::size_t p = 0; p < set.partials.size(); ++p)
    if (set.partials[p].N() > 0) order.push_back(static_cast<int>(p));
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
    return set.partials[static_cast<std::size_t>(a)].first_k < set.partials[static_cast<std::size_t>(b)].first_k;
  });
  std::vector<FrameRow> rows;
  std::size_t next = 0;
  long long k = 0;
  while (next < order.size() || !rows.empty()) {
    if (rows.empty()) k = set.partials[static_cast<std::size_t>(order[next])].first_k;
    for (; next < order.size() && set.partials[static_cast<std::size_t>(order[next])].first_k == k; ++next)
      rows.push_back({order[next], 0});
    frame(static_cast<double>(k) * set.step, rows);
    // Each row moves on to its partial's next point; partials that ended leave the frame.
    std::size_t kept = 0;
    for (const FrameRow& row : rows)
      if (row.point + 1 < set.partials[static_cast<std::size_t>(row.partial)].N()) rows[kept++] = {row.partial, row.point + 1};
    rows.resize(kept);
    ++k;
  }
}

long count_frames(const PartialSet& set) {
  long frames = 0;
  for_each_frame(set, [&](double, const std::vector<FrameRow>&) { ++frames; });
  return frames;
}

}  // namespace zarn

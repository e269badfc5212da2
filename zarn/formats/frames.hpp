// A resampled set seen frame by frame: at each time at which any partial has a point, the
// partials that have a point at exactly that time. On the aligned grid that is every grid
// time with its partials. The frame formats (SDIF, the frame export) are written this way.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

#include "model/partials.hpp"

namespace zarn {

/// One partial's point within a frame: the partial's position in the set and the point's index.
struct FrameRow {
  int partial = 0;
  int point = 0;
};

namespace detail {

/// for_each_frame for partials off the aligned grid, whose frames may each hold few of the
/// partials under way: their next points in a heap, so that the walk costs the points times
/// the logarithm of the partials, never points times partials. Rows come in the same order.
template <typename Frame>
void for_each_sparse_frame(const ResampledSet& set, Frame& frame) {
  struct Next {
    double time;
    std::size_t rank;  // the partial's place in the order of first times
    FrameRow row;
    bool operator>(const Next& o) const { return time > o.time || (time == o.time && rank > o.rank); }
  };
  std::vector<int> order;
  for (std::size_t p = 0; p < set.partials.size(); ++p)
    if (set.partials[p].N() > 0) order.push_back(static_cast<int>(p));
  const auto time_at = [&](int partial, int point) {
    return set.partials[static_cast<std::size_t>(partial)].time[static_cast<std::size_t>(point)];
  };
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return time_at(a, 0) < time_at(b, 0); });
  std::vector<Next> heap;
  heap.reserve(order.size());
  for (std::size_t r = 0; r < order.size(); ++r) heap.push_back({time_at(order[r], 0), r, {order[r], 0}});
  const auto later = [](const Next& a, const Next& b) { return a > b; };
  std::make_heap(heap.begin(), heap.end(), later);
  std::vector<Next> taken;
  std::vector<FrameRow> rows;
  while (!heap.empty()) {
    const double t = heap.front().time;
    taken.clear();
    while (!heap.empty() && heap.front().time == t) {  // in rank order: the heap breaks ties by rank
      std::pop_heap(heap.begin(), heap.end(), later);
      taken.push_back(heap.back());
      heap.pop_back();
    }
    rows.clear();
    for (const Next& n : taken) rows.push_back(n.row);
    frame(t, rows);
    for (const Next& n : taken) {
      const int point = n.row.point + 1;
      if (point < set.partials[static_cast<std::size_t>(n.row.partial)].N()) {
        heap.push_back({time_at(n.row.partial, point), n.rank, {n.row.partial, point}});
        std::push_heap(heap.begin(), heap.end(), later);
      }
    }
  }
}

}  // namespace detail

/// Calls `frame(time, rows)` (rows a const std::vector<FrameRow>&) for every time at which any
/// partial has a point, in rising time; rows are ordered by the partials' first time, then by
/// position. A template, so that the writers' work on each frame is compiled into the walk.
template <typename Frame>
void for_each_frame(const ResampledSet& set, Frame&& frame) {
  if (!set.aligned) return detail::for_each_sparse_frame(set, frame);
  // Partials with points, by their first time; a sweep over the times keeps those present,
  // each with the time of its next point at hand. On the aligned grid most partials under way
  // have a point in every frame, so that looking at each of them costs no more than the rows.
  struct Pending {
    FrameRow row;
    double time;
  };
  const auto time_at = [&](int partial, int point) {
    return set.partials[static_cast<std::size_t>(partial)].time[static_cast<std::size_t>(point)];
  };
  std::vector<int> order;
  for (std::size_t p = 0; p < set.partials.size(); ++p)
    if (set.partials[p].N() > 0) order.push_back(static_cast<int>(p));
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return time_at(a, 0) < time_at(b, 0); });
  std::vector<Pending> pending;  // partials under way
  std::vector<FrameRow> rows;    // those at the frame's time
  std::size_t next = 0;
  while (next < order.size() || !pending.empty()) {
    // The frame's time: the earliest next point of any partial under way or about to start.
    double t = next < order.size() ? time_at(order[next], 0) : pending.front().time;
    for (const Pending& r : pending) t = std::min(t, r.time);
    for (; next < order.size() && time_at(order[next], 0) == t; ++next) pending.push_back({{order[next], 0}, t});
    rows.clear();
    for (const Pending& r : pending)
      if (r.time == t) rows.push_back(r.row);
    frame(t, rows);
    // Rows in the frame move on to their next point; partials that ended leave.
    std::size_t kept = 0;
    for (const Pending& r : pending) {
      if (r.time != t) {
        pending[kept++] = r;
        continue;
      }
      const int point = r.row.point + 1;
      if (point < set.partials[static_cast<std::size_t>(r.row.partial)].N())
        pending[kept++] = {{r.row.partial, point}, time_at(r.row.partial, point)};
    }
    pending.resize(kept);
  }
}


/// The number of frames that for_each_frame gives.
long count_frames(const ResampledSet& set);

}  // namespace zarn

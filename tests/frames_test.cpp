// Frames of a resampled set: the sweep for the aligned grid and the heap for partials off it
// give the same frames, in the same order, on sets where partials start, stop and share times.
#include "formats/frames.hpp"

#include <random>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace {

using Frames = std::vector<std::pair<double, std::vector<std::pair<int, int>>>>;

Frames frames_of(const zarn::ResampledSet& set) {
  Frames out;
  zarn::for_each_frame(set, [&](double t, const std::vector<zarn::FrameRow>& rows) {
    out.emplace_back(t, std::vector<std::pair<int, int>>());
    for (const zarn::FrameRow& r : rows) out.back().second.emplace_back(r.partial, r.point);
  });
  return out;
}

TEST(Frames, SweepAndHeapAgree) {
  std::mt19937_64 rng(11);
  std::uniform_int_distribution<int> start(0, 30), length(0, 12), grid(0, 2);
  for (int trial = 0; trial < 200; ++trial) {
    zarn::ResampledSet set;
    const int partials = 1 + trial % 17;
    for (int p = 0; p < partials; ++p) {
      zarn::Resampled part;
      // On a grid of quarters, of thirds or of both: times shared by some partials only.
      const double unit = grid(rng) == 0 ? 0.25 : 1.0 / 3;
      for (int k = start(rng), n = length(rng); n > 0; ++k, --n) {
        part.time.push_back(k * unit);
        part.freq.push_back(440);
        part.amp.push_back(0.1);
      }
      set.partials.push_back(part);
    }
    set.aligned = true;
    const Frames swept = frames_of(set);
    set.aligned = false;
    ASSERT_EQ(frames_of(set), swept) << "trial " << trial;
  }
  // By hand: partial 1 starts first, so its rows come first where both have a point.
  zarn::ResampledSet set;
  set.partials.resize(2);
  set.partials[0].time = {1, 2}, set.partials[0].freq = {1, 1}, set.partials[0].amp = {1, 1};
  set.partials[1].time = {0, 1, 3}, set.partials[1].freq = {1, 1, 1}, set.partials[1].amp = {1, 1, 1};
  const Frames want = {{0, {{1, 0}}}, {1, {{1, 1}, {0, 0}}}, {2, {{0, 1}}}, {3, {{1, 2}}}};
  EXPECT_EQ(frames_of(set), want);
  EXPECT_EQ(zarn::count_frames(set), 4);
}

}  // namespace

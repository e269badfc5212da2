// Tracks from frame to frame, on peaks made by hand: a steady partial, a jump beyond the
// tolerance, a gap bridged and one too long, and two partials meeting.
#include "analysis/tracks.hpp"

#include <vector>

#include <gtest/gtest.h>

namespace {

struct Ended {
  std::vector<std::vector<double>> freqs;  // of each track that ended, in the order they ended
};

// Runs frames of peaks (frequencies, 0 for none) a hop of 0.01 s apart at a resolution of 40 Hz.
Ended tracked(const std::vector<std::vector<double>>& frames) {
  Ended ended;
  zarn::Tracker tracker(40, 0.01, [&](zarn::Track& t) { ended.freqs.push_back(t.part.freq); });
  for (std::size_t j = 0; j < frames.size(); ++j) {
    std::vector<zarn::Peak> peaks;
    for (double f : frames[j])
      if (f > 0) peaks.push_back({f, 0.1, 0});
    tracker.take(static_cast<long>(j), 0.01 * static_cast<double>(j), peaks);
  }
  tracker.end_all();
  return ended;
}

TEST(Tracks, FollowBridgeAndEnd) {
  using F = std::vector<std::vector<double>>;
  const struct {
    const char* what;
    F frames, tracks;
  } cases[] = {
      {"steady", {{440}, {441}, {442}}, {{440, 441, 442}}},
      {"a jump of more than half the resolution starts another", {{440}, {470}}, {{440}, {470}}},
      {"a gap of two frames is bridged", {{440}, {0}, {0}, {440}}, {{440, 440}}},
      {"a gap of three ends the track", {{440}, {0}, {0}, {0}, {440}}, {{440}, {440}}},
      {"the nearest peak is taken, the other starts a track", {{440}, {445, 441}}, {{440, 441}, {445}}},
      {"above 2 kHz the tolerance is 1 % of the frequency", {{6000}, {6050}}, {{6000, 6050}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(tracked(c.frames).freqs, c.tracks);
  }
}

TEST(Tracks, PredictedAlongTheSlope) {
  zarn::Track t;
  for (int j = 0; j < 4; ++j) zarn::add_breakpoint(t.part, 0.01 * j, 400.0 + 10 * j, 0.1);
  t.last_frame = 3;
  EXPECT_NEAR(t.predicted(5, 0.01), 450, 1e-9);  // 1000 Hz a second, two frames on from 430
}

}  // namespace

// Tracks made partials: too short ones left out, by frames or by --min-track; frequencies
// carried to the frames' centres; edges moved to where their energy lies.
#include "analysis/finish.hpp"

#include <limits>
#include <vector>

#include <gtest/gtest.h>

namespace {

// A track of breakpoints a hop of 0.01 s apart, with the given frequencies and offsets.
zarn::Track track(const std::vector<double>& freqs, const std::vector<double>& offsets) {
  zarn::Track t;
  for (std::size_t j = 0; j < freqs.size(); ++j) zarn::add_breakpoint(t.part, 0.01 * static_cast<double>(j), freqs[j], 0.1);
  t.offsets = offsets;
  return t;
}

TEST(Finish, ShortTracksLeftOut) {
  // At a hop of 0.01 s counted in hops of 0.02 s, a track must be seen for 0.06 s.
  const double inf = std::numeric_limits<double>::infinity();
  const zarn::FinishOptions by_frames{0.01, 0, 0}, by_duration{0.01, 0, 0.025}, by_rule{0.01, 0, 0, nullptr, inf, 0.02};
  const struct {
    std::size_t points;
    const zarn::FinishOptions* options;
    bool kept;
  } cases[] = {{2, &by_frames, false}, {3, &by_frames, true}, {3, &by_duration, false}, {4, &by_duration, true}, {5, &by_rule, false}, {6, &by_rule, true}};
  for (const auto& c : cases) {
    zarn::Track t = track(std::vector<double>(c.points, 440), std::vector<double>(c.points, 0.0));
    zarn::Partial p;
    EXPECT_EQ(zarn::finish_track(t, *c.options, p), c.kept) << c.points;
    if (c.kept) {
      EXPECT_EQ(p.M(), static_cast<int>(c.points));
    }
  }
}

TEST(Finish, CentresEdgesAndLowFrequencies) {
  // A glissando of 1000 Hz a second seen 1 ms after each frame's centre: carried back by 1 Hz.
  zarn::Track t = track({400, 410, 420, 430, 440}, {0.001, 0.001, 0.001, 0.001, 0.001});
  zarn::Partial p;
  ASSERT_TRUE(zarn::finish_track(t, {0.01, 0, 0}, p));
  EXPECT_NEAR(p.freq[2], 419, 1e-9);
  // An edge whose energy lies 4 ms into the frame moves there, and takes its frequency from
  // the steady breakpoints' slope.
  t = track({500, 440, 440, 440}, {0.004, 0, 0, 0});
  ASSERT_TRUE(zarn::finish_track(t, {0.01, 0, 0}, p));
  EXPECT_NEAR(p.time[0], 0.004, 1e-12);
  EXPECT_NEAR(p.freq[0], 440, 1e-9);
  // A breakpoint carried below 4 Hz is left out.
  t = track({30, 20, 10, 6}, {0, 0, 0, 0.004});
  ASSERT_TRUE(zarn::finish_track(t, {0.01, 0, 0}, p));
  for (double f : p.freq) EXPECT_GE(f, zarn::kMinFreq);
  EXPECT_EQ(p.M(), 3);
}

// A swell seen by frames a hop of 5 ms apart (a 75 ms window): the first frame, which sees a
// faint partial starting far before, is left out where later frames tell of the start too; a
// lone faint start is kept.
TEST(Finish, AFaintStartGivesWayToALaterOne) {
  const zarn::FrameTransform window(3309, 44100);
  const auto first_kept = [&](const std::vector<double>& amps, const std::vector<double>& offsets) {
    zarn::Track t;
    for (std::size_t j = 0; j < amps.size(); ++j) zarn::add_breakpoint(t.part, 0.1 + 0.005 * static_cast<double>(j), 440, amps[j]);
    t.offsets = offsets;
    zarn::Partial p;
    EXPECT_TRUE(zarn::finish_track(t, {0.005, window.spread(), 0, &window, 10.0, 0.01875}, p));
    return p.amp.empty() ? 0.0 : p.amp.front();
  };
  const std::vector<double> steady(12, 0.0), level(12, 0.1);
  auto offsets = steady, amps = level;
  offsets[0] = 0.012, offsets[1] = 0.006, amps[0] = 0.004, amps[1] = 0.06;
  EXPECT_GE(first_kept(amps, offsets), 0.07);
  offsets[1] = 0, amps[1] = 0.1;
  EXPECT_LT(first_kept(amps, offsets), 0.03);
}

}  // namespace

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
      {"a track seen in eight frames coasts through four missed",
       {{440}, {440}, {440}, {440}, {440}, {440}, {440}, {440}, {0}, {0}, {0}, {0}, {440}},
       {{440, 440, 440, 440, 440, 440, 440, 440, 440}}},
      {"one seen in fewer does not", {{440}, {440}, {0}, {0}, {0}, {440}}, {{440, 440}, {440}}},
      // 1045 lies 22.5 Hz from the 1022.5 the slope predicts, 1085 25 Hz from 1060 and 1140
      // 26.7 Hz from 1113.3: beyond the 20 Hz half resolution, within twice the track's
      // bending (15 Hz a frame).
      {"a bending track takes a peak as far off as twice its bending",
       {{1000}, {1000}, {1015}, {1045}, {1085}, {1140}}, {{1000, 1000, 1015, 1045, 1085, 1140}}},
      // Low partials lie closer than the resolution: 15 Hz is within half of it (20 Hz), but
      // a step of 25 % at 60 Hz; 3.5 Hz is within 8 %, and so is 7.5 Hz at 100 Hz, not 8.5.
      {"a low track steps no more than about 130 cents", {{60}, {75}}, {{60}, {75}}},
      {"and follows within it", {{60}, {63.5}}, {{60, 63.5}}},
      {"as a kick drum's partial falls", {{100}, {92.5}}, {{100, 92.5}}},
      {"but not beyond", {{100}, {91.5}}, {{100}, {91.5}}},
      // The example above a third as high: 345 lies 22.5 Hz from the 322.5 the slope predicts,
      // within twice the bending (30 Hz) but beyond 6 % of the frequency (19.4 Hz).
      {"its bending widens a track by 6 % of its frequency at most", {{300}, {300}, {315}, {345}}, {{300, 300, 315}, {345}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(tracked(c.frames).freqs, c.tracks);
  }
}

// A track that starts takes the edges before it that lead up to it (energy later in the
// window the earlier the frame); one that finds no peak takes an edge where it stops.
TEST(Tracks, EdgesBeforeAStartAndAtAStop) {
  std::vector<std::vector<double>> ended;
  zarn::Tracker tracker(40, 0.01, [&](zarn::Track& t) { ended.push_back(t.offsets); });
  using P = std::vector<zarn::Peak>;
  tracker.take(0, 0.00, P{}, P{{700, 0.01, 0.008}, {900, 0.01, -0.008}});
  tracker.take(1, 0.01, P{}, P{{701, 0.05, 0.004}});
  tracker.take(2, 0.02, P{{702, 0.1, 0}}, P{});
  tracker.take(3, 0.03, P{{702, 0.1, 0}}, P{});
  tracker.take(4, 0.04, P{}, P{{702, 0.05, -0.004}, {702, 0.05, 0.004}});
  tracker.end_all();
  ASSERT_EQ(ended.size(), 1u);  // the edge at 900 Hz, stopping, starts nothing
  EXPECT_EQ(ended[0], (std::vector<double>{0.008, 0.004, 0, 0, -0.004}));
}

TEST(Tracks, PredictedAlongTheSlope) {
  zarn::Track t;
  for (int j = 0; j < 4; ++j) zarn::add_breakpoint(t.part, 0.01 * j, 400.0 + 10 * j, 0.1);
  t.last_frame = 3;
  EXPECT_NEAR(t.predicted(5, 0.01), 450, 1e-9);  // 1000 Hz a second, two frames on from 430
  // One breakpoint: along the glide its peak showed, 3000 Hz a second falling.
  zarn::Track one;
  zarn::add_breakpoint(one.part, 0, 400, 0.1);
  one.chirp = -3000;
  EXPECT_NEAR(one.predicted(2, 0.01), 340, 1e-9);
}

// Peaks that show their glide (30 Hz a frame, beyond the 20 Hz tolerance) are followed from the
// first; a first peak that showed none is reached back to along the second's.
TEST(Tracks, GlidesFollowedFromTheirFirstPeak) {
  const struct {
    const char* what;
    double chirps[3];
    std::size_t tracks;
  } cases[] = {
      {"each shows its glide", {3000, 3000, 3000}, 1},
      {"the first shows none", {0, 3000, 3000}, 1},
      {"none shows one", {0, 0, 0}, 3},
      {"falling glides are not reached by rising ones", {-3000, -3000, -3000}, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::size_t ended = 0;
    zarn::Tracker tracker(40, 0.01, [&](zarn::Track&) { ++ended; });
    for (int j = 0; j < 3; ++j) tracker.take(j, 0.01 * j, {{500.0 + 30 * j, 0.1, 0, 1, c.chirps[j]}});
    tracker.end_all();
    EXPECT_EQ(ended, c.tracks);
  }
}

// A track seen once by a window that saw its partial start (energy 6 ms late, a quarter hop
// being 2.5 ms) reaches twice as far, 16 Hz at 100 Hz: a kick drum's partial falls 12 % there.
TEST(Tracks, AStartReachesTwiceAsFar) {
  const struct {
    double offset, next;
    int before;  // breakpoints before the one that saw the start
    std::size_t tracks;
  } cases[] = {{0.006, 88, 0, 1}, {0.006, 83, 0, 2}, {0.002, 88, 0, 2}, {0.006, 88, 1, 2}};
  for (const auto& c : cases) {
    std::size_t ended = 0;
    zarn::Tracker tracker(40, 0.01, [&](zarn::Track&) { ++ended; });
    long frame = 0;
    for (; frame < c.before; ++frame) tracker.take(frame, 0.01 * static_cast<double>(frame), {{100, 0.1, 0}});
    tracker.take(frame, 0.01 * static_cast<double>(frame), {{100, 0.1, c.offset}});
    ++frame;
    tracker.take(frame, 0.01 * static_cast<double>(frame), {{c.next, 0.1, 0}});
    tracker.end_all();
    EXPECT_EQ(ended, c.tracks) << c.offset << " " << c.next << " " << c.before;
  }
}

// A partial that held or died away, struck again (a peak over twice as loud, its energy 6 ms
// late where half the 10 ms hop is 5 ms), starts anew; one that was rising goes on.
TEST(Tracks, APartialStruckAgainStartsAnew) {
  const struct {
    double before[3], amp, offset;
    std::size_t tracks;
  } cases[] = {
      {{0.1, 0.1, 0.1}, 0.25, 0.006, 2}, {{0.1, 0.1, 0.1}, 0.25, 0.004, 1}, {{0.1, 0.1, 0.1}, 0.19, 0.006, 1},
      {{0.2, 0.15, 0.1}, 0.25, 0.006, 2}, {{0.05, 0.08, 0.1}, 0.25, 0.006, 1},
  };
  for (const auto& c : cases) {
    std::size_t ended = 0;
    zarn::Tracker tracker(40, 0.01, [&](zarn::Track&) { ++ended; });
    for (int j = 0; j < 3; ++j) tracker.take(j, 0.01 * j, {{440, c.before[j], 0}});
    tracker.take(3, 0.03, {{440, c.amp, c.offset}});
    tracker.end_all();
    EXPECT_EQ(ended, c.tracks) << c.before[2] << " " << c.amp << " " << c.offset;
  }
}

// The rules in frames count the window's own hop: at a hop a quarter of it, a track bridges
// four times as many missed frames (eight), and no more.
TEST(Tracks, RulesCountTheWindowsHop) {
  const struct {
    double rule_hop;
    long missed;
    std::size_t tracks;
  } cases[] = {{0, 2, 1}, {0, 3, 2}, {0.02, 8, 1}, {0.02, 9, 2}, {0.001, 2, 1}, {0.001, 3, 2}};
  for (const auto& c : cases) {
    std::size_t ended = 0;
    zarn::Tracker tracker(40, 0.005, [&](zarn::Track&) { ++ended; }, c.rule_hop);
    long frame = 0;
    for (; frame < 3; ++frame) tracker.take(frame, 0.005 * static_cast<double>(frame), {{440, 0.1, 0}});
    for (; frame < 3 + c.missed; ++frame) tracker.take(frame, 0.005 * static_cast<double>(frame), {});
    tracker.take(frame, 0.005 * static_cast<double>(frame), {{440, 0.1, 0}});
    tracker.end_all();
    EXPECT_EQ(ended, c.tracks) << c.rule_hop << " " << c.missed;
  }
}

// Across missed frames a track takes no peak much louder (a new note where the old one died
// away, +6 dB and more) or much quieter (-20 dB and more) than it was; next to its last frame it
// takes either.
TEST(Tracks, AcrossAGapAsLoudAsItWas) {
  const struct {
    double after, gap;  // the amplitude after 0.1, and the frames missed
    std::size_t tracks;
  } cases[] = {{0.5, 2, 2}, {0.15, 2, 1}, {0.005, 2, 2}, {0.02, 2, 1}, {0.5, 0, 1}, {0.005, 0, 1}};
  for (const auto& c : cases) {
    std::size_t ended = 0;
    zarn::Tracker tracker(40, 0.01, [&](zarn::Track&) { ++ended; });
    long frame = 0;
    for (int j = 0; j < 3; ++j, ++frame) tracker.take(frame, 0.01 * static_cast<double>(frame), {{440, 0.1, 0}});
    frame += static_cast<long>(c.gap);
    tracker.take(frame, 0.01 * static_cast<double>(frame), {{440, c.after, 0}});
    tracker.end_all();
    EXPECT_EQ(ended, c.tracks) << c.after << " after " << c.gap << " missed";
  }
}

}  // namespace

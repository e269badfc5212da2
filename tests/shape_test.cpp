// Changes over time: each point of the result follows its curve, its markers and its holds
// exactly, whatever the breakpoints; attacks keep their speed; the noise goes with the map.
#include "edit/shape.hpp"

#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "fit/resample.hpp"
#include "model/failure.hpp"

namespace {

// A glide with a bend and a swell on few, uneven breakpoints, a partial of one breakpoint, an
// empty one, and noise every 0.1 s, from a sound of 3 s at 1000 Hz.
zarn::PartialSet glide() {
  zarn::PartialSet set;
  set.partials.resize(3);
  set.partials[0].time = {0.05, 0.4, 0.55, 1.3, 2.2};
  set.partials[0].freq = {300, 420, 410, 640, 500};
  set.partials[0].amp = {0.01, 0.3, 0.5, 0.2, 0.02};
  set.partials[1].time = {0.7};
  set.partials[1].freq = {1000};
  set.partials[1].amp = {0.1};
  for (int k = 0; k <= 25; ++k) {
    set.noise.times.push_back(0.1 * k);
    set.noise.power.insert(set.noise.power.end(), {1e-4 * (k + 1), 2e-5});
  }
  set.noise.edges = {0, 500, 4000};
  set.rate = 1000;
  set.samples = 3000;
  return set;
}

// The partials as a run lays and fits them.
zarn::ResampledSet fitted(const zarn::PartialSet& set, const zarn::ShapeOptions& o) {
  const zarn::GridPlan plan = zarn::plan_grid(set, o.step, o.grid, "in.txt", o.fit);
  zarn::ResampledSet grid = zarn::lay_planned(set, plan);
  zarn::resample(set, grid, o.fit);
  return grid;
}

TEST(Shape, EveryPointFollowsTheCurvesOnEveryGridAndFit) {
  for (const zarn::GridKind grid : {zarn::GridKind::kOwn, zarn::GridKind::kWhole, zarn::GridKind::kAligned})
    for (const zarn::Fit fit : {zarn::Fit::kSpline, zarn::Fit::kMonotone, zarn::Fit::kLinear}) {
      zarn::ShapeOptions o;
      o.step = 0.013;
      o.grid = grid;
      o.fit = fit;
      o.cents = {{0.3, 1.1, 1.2}, {-200, 700, 650}};
      o.gain = {{0.5, 1.5}, {-3, 6.5}};
      const zarn::PartialSet before = glide();
      zarn::PartialSet after = before;
      zarn::shape(after, o, "in.txt");
      const zarn::ResampledSet want = fitted(before, o), got = fitted(after, o);
      for (std::size_t p = 0; p < want.partials.size(); ++p) {
        const zarn::Resampled &w = want.partials[p], &g = got.partials[p];
        ASSERT_EQ(g.time, w.time) << p;
        for (std::size_t j = 0; j < w.time.size(); ++j) {
          EXPECT_NEAR(1200 * std::log2(g.freq[j] / w.freq[j]), o.cents.at(w.time[j]), 1e-9) << w.time[j];
          EXPECT_NEAR(20 * std::log10(g.amp[j] / w.amp[j]), o.gain.at(w.time[j]), 1e-9) << w.time[j];
        }
      }
      // One breakpoint, at 0.7 s: 250 cents up (-200 to 700 over 0.3 to 1.1 s), 1.1 dB down.
      EXPECT_NEAR(after.partials[1].freq[0], 1000 * std::pow(2.0, 250 / 1200.0), 1e-9);
      EXPECT_NEAR(20 * std::log10(after.partials[1].amp[0] / 0.1), -1.1, 1e-12);
    }
}

TEST(Shape, MarkersAndHoldsPlaceEveryPoint) {
  zarn::ShapeOptions o;
  o.step = 0.01;
  o.fit = zarn::Fit::kMonotone;
  o.warp = {{0, 0.5, 2}, {0, 1.5, 2.25}};
  o.freezes = {{1.0, 0.4}};
  o.cents = {{0.2, 1.8}, {100, -300}};  // over input time, not output time
  const zarn::TimeMap map = zarn::time_map(o, glide());
  const zarn::PartialSet before = glide();
  zarn::PartialSet after = before;
  zarn::shape(after, o, "in.txt");
  const zarn::Partial& part = after.partials[0];
  EXPECT_DOUBLE_EQ(part.time.front(), 0.15);
  EXPECT_DOUBLE_EQ(part.time.back(), 2.25 + 0.2 * 0.5 + 0.4);
  EXPECT_EQ(after.partials[1].time, (std::vector<double>{1.5 + 0.2 * 0.5}));
  // Each point is the input's fit at the time the map pulls it back to, changed by the curve
  // there: a hold's points its value there.
  zarn::Resampled input;
  for (double t : part.time) input.time.push_back(map.inverse(t));
  input.time.front() = 0.05, input.time.back() = 2.2;
  zarn::fit_partial(o.fit, zarn::breakpoints_of(before.partials[0]), input);
  for (std::size_t j = 0; j < part.time.size(); ++j) {
    EXPECT_NEAR(part.freq[j], input.freq[j] * std::pow(2.0, o.cents.at(input.time[j]) / 1200), 1e-9) << part.time[j];
    EXPECT_NEAR(part.amp[j], input.amp[j], 1e-12) << part.time[j];
  }
  const double held = map.forward(1.0);
  for (std::size_t j = 0; j < part.time.size(); ++j)
    if (part.time[j] >= held && part.time[j] <= held + 0.4) {
      EXPECT_EQ(input.time[j], 1.0) << part.time[j];
    }
  EXPECT_EQ(after.samples, std::llround((2.25 + 0.5 + 0.4) * 1000));
  // The noise: its frames moved, the one at the hold twice, each keeping its powers.
  const zarn::Noise& noise = after.noise;
  ASSERT_EQ(noise.times.size(), before.noise.times.size() + 1);
  for (std::size_t k = 0; k < noise.times.size(); ++k) {
    const std::size_t from = k <= 10 ? k : k - 1;
    EXPECT_NEAR(noise.times[k], map.forward(before.noise.times[from]) + (k == 11 ? 0.4 : 0), 1e-12) << k;
    EXPECT_EQ(noise.frame(k)[0], before.noise.frame(from)[0]) << k;
  }
  // A warp that would move a partial before 0 s is refused.
  o.warp = {{0.1, 1}, {0, 1}};
  o.freezes.clear();
  zarn::PartialSet early = glide();
  EXPECT_THROW(zarn::shape(early, o, "in.txt"), zarn::Failure);
  early = glide();
  early.partials.clear();  // the noise alone
  EXPECT_THROW(zarn::shape(early, o, "in.txt"), zarn::Failure);
}

// On --whole's grid, a span of a whole number of steps ends on its last step, once; a hold at a
// noise frame's own time keeps that frame at both ends of the hold; two curves that turn at one
// time add one frame there; nothing comes twice.
TEST(Shape, EndsAndHoldsOnceEach) {
  zarn::PartialSet set;
  set.partials.resize(1);
  set.partials[0].time = {0, 0.5, 1}, set.partials[0].freq = {200, 210, 220}, set.partials[0].amp = {0.1, 0.2, 0.1};
  set.noise.edges = {0, 1000};
  set.noise.times = {0, 0.5, 1}, set.noise.power = {1e-4, 3e-4, 2e-4};
  zarn::ShapeOptions o;
  o.grid = zarn::GridKind::kWhole;
  o.step = 0.25;
  o.gain = {{0.25, 1}, {0, 6}};
  o.noise_gain = {{0.25, 0.9}, {0, -3}};
  o.freezes = {{0.5, 1.0}};
  zarn::shape(set, o, "in.txt");
  const std::vector<double>& t = set.partials[0].time;
  ASSERT_FALSE(t.empty());
  for (std::size_t k = 1; k < t.size(); ++k) EXPECT_LT(t[k - 1], t[k]) << k;
  EXPECT_EQ(t.back(), 2.0);  // 1 s, held 1 s more
  EXPECT_EQ(set.noise.times, (std::vector<double>{0, 0.25, 0.5, 1.5, 1.9, 2}));
  EXPECT_EQ(set.noise.power[2], set.noise.power[3]);  // the frame held, as it was at 0.5 s
  // At 0.5 s, +2 dB of amplitude (+2 dB of power) and -3 * 0.25 / 0.65 dB of the noise's own.
  EXPECT_NEAR(10 * std::log10(set.noise.power[2] / 3e-4), 2 - 3 * 0.25 / 0.65, 1e-12);
}

TEST(Shape, NoiseTakesTheGainsAtItsInputTimes) {
  zarn::ShapeOptions o;
  o.time_factor = {{0, 2}, {1, 3}};
  o.gain = {{0.25, 0.75}, {0, 10}};
  o.noise_gain = {{0, 1}, {-6, -6}};
  o.keep_attacks = true;  // no onset here: the map is the stretch alone, and an empty partial passes
  const zarn::PartialSet before = glide();
  zarn::PartialSet after = before;
  zarn::shape(after, o, "in.txt");
  const zarn::TimeMap map = zarn::time_map(o, before);
  // Frames added where the gain turns (0.25 and 0.75), between two as the noise plays them.
  ASSERT_EQ(after.noise.times.size(), before.noise.times.size() + 2);
  for (std::size_t k = 0, from = 0; k < after.noise.times.size(); ++k) {
    const double u = map.inverse(after.noise.times[k]);
    double want[2];
    before.noise.at(u, want);
    const double db = o.gain.at(u) - 6;  // an amplitude up by G dB is a power up by G dB
    EXPECT_NEAR(10 * std::log10(after.noise.frame(k)[0] / want[0]), db, 1e-9) << k;
    if (u == before.noise.times[from]) ++from;
  }
}

TEST(Shape, OnsetsAreClimbsOfSixDecibelsWithinTheirTime) {
  // A tone from 1 s: 10 dB up at 1.5 s in 2 ms (a dip of 3 dB after it, then 5 dB up: its peak
  // stays), 3 dB up at 1.8 s, 12 dB up over 1 s from 2.1 s (a swell), 20 dB up over 0.3 s
  // from 3.5 s (whose first 0.15 s climb 10 dB).
  zarn::PartialSet set;
  set.partials.resize(1);
  for (const auto& [t, db] : std::vector<std::pair<double, double>>{
           {1, -40}, {1.0005, -20}, {1.5, -20}, {1.502, -10}, {1.51, -13}, {1.52, -8}, {1.54, -10}, {1.8, -10}, {1.802, -7}, {2.1, -7}, {3.1, 5}, {3.5, 5}, {3.8, 25}, {4, 25}})
    zarn::add_breakpoint(set.partials[0], t, 440, std::pow(10.0, db / 20));
  const auto found = zarn::detail::onsets(set);
  ASSERT_EQ(found.size(), 3u);
  EXPECT_NEAR(found[0].first, 1, 1.5e-3);
  EXPECT_NEAR(found[0].second, 1.0005, 1e-3);
  EXPECT_NEAR(found[1].first, 1.5, 1.5e-3);
  EXPECT_NEAR(found[1].second, 1.502, 1e-3);
  EXPECT_NEAR(found[2].first, 3.5, 1.5e-3);
  EXPECT_NEAR(found[2].second, 3.65, 1.5e-3);
}

// The attacks are found where the breakpoints are, in work that follows them and not the time
// they span: two partials of 1e6 s, a jump at each end, find the same attacks as at 10 s.
TEST(Shape, OnsetsFollowTheBreakpointsNotTheirSpan) {
  for (const double span : {10.0, 1e6}) {
    zarn::PartialSet set;
    set.partials.resize(2);
    for (const auto& [t, db] : std::vector<std::pair<double, double>>{{1, -60}, {1.002, -20}, {span - 1, -20}, {span, -20}})
      zarn::add_breakpoint(set.partials[0], t, 440, std::pow(10.0, db / 20));
    // The second starts from silence, fades slowly over its span, then is struck 0.5 s before its end.
    for (const auto& [t, db] : std::vector<std::pair<double, double>>{{0.5, -30}, {span - 0.5, -40}, {span - 0.499, -6}, {span, -6}})
      zarn::add_breakpoint(set.partials[1], t, 660, std::pow(10.0, db / 20));
    const auto found = zarn::detail::onsets(set);
    ASSERT_EQ(found.size(), 3u) << span;
    EXPECT_NEAR(found[0].first, 0.5, 1.5e-3) << span;  // the second partial's start, from silence
    EXPECT_NEAR(found[1].first, 1, 1.5e-3) << span;
    EXPECT_NEAR(found[1].second, 1.002, 1e-3) << span;
    EXPECT_NEAR(found[2].first, span - 0.5, 1.5e-3) << span;
    EXPECT_NEAR(found[2].second, span - 0.499, 1.5e-3) << span;
  }
}

// The rise from 10 % to 90 % of a partial's first peak, on a fine grid.
double rise(const zarn::Partial& part) {
  zarn::Resampled r;
  for (double t = part.time.front(); t < part.time.front() + 0.2; t += 1e-5) r.time.push_back(t);
  zarn::fit_partial(zarn::Fit::kLinear, zarn::breakpoints_of(part), r);
  double peak = 0, t10 = -1, t90 = -1;
  for (double a : r.amp) peak = std::max(peak, a);
  for (std::size_t j = 0; j < r.time.size(); ++j) {
    if (t10 < 0 && r.amp[j] >= 0.1 * peak) t10 = r.time[j];
    if (t90 < 0 && r.amp[j] >= 0.9 * peak) t90 = r.time[j];
  }
  return t90 - t10;
}

TEST(Shape, AttacksKeepTheirSpeedUnderAStretch) {
  // Two plucks of two harmonics, each rising in 2 ms and dying away over 0.5 s.
  zarn::PartialSet set;
  for (double onset : {0.1, 0.7})
    for (double f : {200.0, 400.0}) {
      zarn::Partial part;
      for (double t : {0.0, 0.002, 0.1, 0.3, 0.5}) zarn::add_breakpoint(part, onset + t, f, t == 0 ? 0 : 0.5 * std::exp(-8 * t) * 200 / f);
      set.partials.push_back(part);
    }
  // A sound of 1.2 s whose noise's last frame lies past its end.
  set.rate = 1000, set.samples = 1200;
  set.noise.edges = {0, 20000};
  set.noise.times = {0, 1.6};
  set.noise.power = {1e-9, 1e-9};
  const double before = rise(set.partials[0]);
  for (const bool keep : {false, true}) {
    zarn::ShapeOptions o;
    o.step = 0.0005;
    o.fit = zarn::Fit::kLinear;
    o.time_factor = {{0.5}, {4}};  // four times as long throughout
    o.keep_attacks = keep;
    zarn::PartialSet after = set;
    zarn::shape(after, o, "in.txt");
    for (const zarn::Partial& part : after.partials) EXPECT_NEAR(rise(part), keep ? before : 4 * before, 1e-4) << keep;
    // The plucks' harmonics start together; each note still ends where the stretch puts it.
    EXPECT_EQ(after.partials[0].time.front(), after.partials[1].time.front());
    EXPECT_NEAR(after.partials[2].time.back(), 4 * 1.2, 1e-9);
    EXPECT_EQ(after.samples, 4 * 1200);  // the sound as long as the stretch makes it, to the sample
    // The second pluck starts where the stretch puts its onset (the millisecond before it, kept).
    EXPECT_LE(after.partials[2].time.front(), 4 * 0.7 + 1e-12);
    EXPECT_GE(after.partials[2].time.front(), keep ? 4 * 0.7 - 3 * 0.001 : 4 * 0.7 - 1e-12);
  }
}

}  // namespace

namespace {

// A hold past the input's end (its partials', its noise's or its sound's, the latest) holds
// nothing and is said; one at the end or before it is not.
TEST(Shape, AHoldPastTheEndIsSaid) {
  zarn::PartialSet set;
  set.partials.resize(1);
  set.partials[0].time = {0.1, 0.8}, set.partials[0].freq = {440, 440}, set.partials[0].amp = {0.1, 0.1};
  EXPECT_EQ(zarn::input_end(set), 0.8);
  set.rate = 1000, set.samples = 1201;  // a sound analysed that lasts to 1.2 s
  EXPECT_EQ(zarn::input_end(set), 1.2);
  const struct {
    double time;
    bool said;
  } cases[] = {{0.5, false}, {1.2, false}, {1.2000001, true}, {7, true}};
  for (const auto& c : cases) {
    zarn::ShapeOptions o;
    o.freezes = {{0.2, 0.5}, {c.time, 0.25}};
    const std::string past = zarn::freezes_past(o, zarn::input_end(set));
    EXPECT_EQ(!past.empty(), c.said) << c.time;
    if (c.said) {
      EXPECT_NE(past.find("lies past the input's end, at 1.2 s"), std::string::npos) << past;
    }
  }
}

}  // namespace

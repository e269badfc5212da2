// Maps of input times to output times: markers, a varying factor, holds and rises at their own
// speed, forward and back.
#include "edit/timemap.hpp"

#include <cmath>

#include <gtest/gtest.h>

namespace {

// Every map goes back where it came from, and never backwards.
void expect_round_trips(const zarn::TimeMap& map, double from, double to) {
  double last = -HUGE_VAL;
  for (double u = from; u <= to; u += 0.0371) {
    const double t = map.forward(u);
    EXPECT_GT(t, last) << u;
    EXPECT_NEAR(map.inverse(t), u, 1e-12) << u;
    last = t;
  }
}

TEST(TimeMap, MarkersLandWhereTheyArePut) {
  const zarn::TimeMap map = zarn::TimeMap::markers({{0.5, 1, 3}, {0, 3, 4}});
  const struct {
    double u, t;
  } cases[] = {{0.5, 0}, {1, 3}, {3, 4}, {0.75, 1.5}, {2, 3.5}, {5, 5}, {0, -3}};  // beyond: the end stretches' slopes
  for (const auto& c : cases) {
    EXPECT_DOUBLE_EQ(map.forward(c.u), c.t) << c.u;
    EXPECT_DOUBLE_EQ(map.inverse(c.t), c.u) << c.t;
  }
  expect_round_trips(map, -1, 6);
}

TEST(TimeMap, VaryingFactorIsItsIntegral) {
  // Factor 1 + u from 0 to 2 s: u + u^2 / 2; then 3 a second. And a factor falling from 2 to
  // 0.5 over [1, 3], held at 2 before: 0 s stays 0 s.
  const zarn::TimeMap rising = zarn::TimeMap::varying({{0, 2}, {1, 3}}), falling = zarn::TimeMap::varying({{1, 3}, {2, 0.5}});
  const struct {
    const zarn::TimeMap& map;
    double u, t;
  } cases[] = {{rising, 1, 1.5}, {rising, 2, 4}, {rising, 3, 7}, {rising, -1, -1}, {rising, 0, 0},
               {falling, 0, 0},  {falling, 1, 2}, {falling, 2, 2 + 1.625}, {falling, 3, 4.5}, {falling, 5, 5.5}};
  for (const auto& c : cases) EXPECT_NEAR(c.map.forward(c.u), c.t, 1e-12) << c.u;
  expect_round_trips(rising, -1, 5);
  expect_round_trips(falling, -1, 5);
  // Just before a piece's end, the root rounds past it (by 2.2e-16 here): it is held to the end,
  // so that the inverse never goes back.
  const double h = 1.363800933343702;
  const zarn::TimeMap edge = zarn::TimeMap::varying({{0, h}, {1.3559627943044401, 0.69706943692937395}});
  EXPECT_LE(edge.inverse(std::nextafter(edge.forward(h), 0.0)), h);
  EXPECT_EQ(edge.inverse(edge.forward(h)), h);
}

TEST(TimeMap, HoldsStandStillThenGoOnLater) {
  const zarn::TimeMap map = zarn::TimeMap::scaled(2).held(1, 0.5).held(0.25, 0.125);
  EXPECT_DOUBLE_EQ(map.forward(0.25), 0.5);  // the hold's start
  EXPECT_DOUBLE_EQ(map.forward(0.5), 1.125);
  EXPECT_DOUBLE_EQ(map.forward(1), 2.125);
  EXPECT_DOUBLE_EQ(map.forward(1.5), 3.625);
  for (double t : {2.125, 2.3, 2.625}) EXPECT_EQ(map.inverse(t), 1) << t;
  EXPECT_EQ(map.inverse(0.6), 0.25);
  EXPECT_DOUBLE_EQ(map.inverse(3.625), 1.5);
  EXPECT_DOUBLE_EQ(map.hold_at(1), 0.5);
  EXPECT_EQ(map.hold_at(0.9), 0);
  EXPECT_EQ(map.knots(), (std::vector<double>{0, 0.25, 1}));
  // A time exactly at a hold goes to the hold's start; just after it, past the hold's end.
  EXPECT_EQ(map.forward(1), 2.125);
  EXPECT_GT(map.forward(std::nextafter(1.0, 2.0)), 2.625);
  EXPECT_LE(map.forward(std::nextafter(1.0, 0.0)), 2.125);
}

TEST(TimeMap, RiseAtItsOwnSpeedThenCatchesUp) {
  const zarn::TimeMap stretch = zarn::TimeMap::scaled(4);
  zarn::TimeMap kept;
  ASSERT_TRUE(stretch.with_rise(1, 1.01, 2, kept));
  EXPECT_DOUBLE_EQ(kept.forward(1), 4);
  EXPECT_NEAR(kept.forward(1.004), 4.004, 1e-12);
  EXPECT_NEAR(kept.forward(1.01), 4.01, 1e-12);
  EXPECT_NEAR(kept.forward(2), 8, 1e-12);
  EXPECT_NEAR(kept.forward(3), 12, 1e-12);
  EXPECT_NEAR(kept.forward(0.5), 2, 1e-12);
  expect_round_trips(kept, 0, 3);
  // Under a squeeze too, where there is room to catch up; not where there is none.
  ASSERT_TRUE(zarn::TimeMap::scaled(0.5).with_rise(1, 1.1, 2, kept));
  EXPECT_NEAR(kept.forward(1.1), 0.6, 1e-12);
  EXPECT_NEAR(kept.forward(2), 1, 1e-12);
  EXPECT_FALSE(zarn::TimeMap::scaled(0.01).with_rise(1, 1.1, 1.2, kept));
  // The last onset's peak at the very end leaves no time to catch up in: not kept (nor divided by).
  EXPECT_FALSE(stretch.with_rise(1, 2, 2, kept));
  EXPECT_FALSE(stretch.with_rise(1, 1, 2, kept));
  // A marker within the rise keeps its place: the rise is not kept. One after it bounds the catching up.
  const zarn::TimeMap marked = zarn::TimeMap::markers({{0, 1.005, 3}, {0, 2, 5}});
  EXPECT_FALSE(marked.with_rise(1, 1.01, 2, kept));
  const zarn::TimeMap late = zarn::TimeMap::markers({{0, 1.5, 3}, {0, 3, 6}});
  ASSERT_TRUE(late.with_rise(1, 1.01, 9, kept));
  EXPECT_NEAR(kept.forward(1.01), 2.01, 1e-12);
  EXPECT_NEAR(kept.forward(1.5), 3, 1e-12);
  EXPECT_NEAR(kept.forward(2.5), 5, 1e-12);
}

}  // namespace

// Keeping partials: each filter and their combinations on partials worked out by hand.
#include "edit/keep.hpp"

#include <vector>

#include <gtest/gtest.h>

namespace {

// A partial numbered by its place, so that what is kept can be told.
zarn::Partial partial(double place, std::vector<double> t, std::vector<double> f, std::vector<double> a) {
  zarn::Partial p;
  p.time = std::move(t);
  p.freq = std::move(f);
  p.amp = std::move(a);
  p.place = place;
  return p;
}

// Mean frequency, energy, duration and loudest level of each:
//   0: 200 Hz (weighted: 100 and 300 at amplitude 1, 200 at 0), energy 1, 2 s, 0 dB
//   1: 1000 Hz, energy 0.005, 0.5 s, -20 dB
//   2: 50 Hz (every amplitude 0: the plain mean), energy 0, 0 s, -140 dB
//   3: no breakpoints
//   4: 200 Hz, energy 0.5, 2 s, -6 dB
//   5: 400 Hz, energy 0.5 (a tie with 4), 2 s, -6 dB
zarn::PartialSet analysis() {
  zarn::PartialSet set;
  set.partials = {partial(0, {0, 1, 2}, {100, 200, 300}, {1, 0, 1}), partial(1, {0, 0.5}, {1000, 1000}, {0.1, 0.1}),
                  partial(2, {1}, {50}, {0}),                         partial(3, {}, {}, {}),
                  partial(4, {0, 2}, {200, 200}, {0.5, 0.5}),         partial(5, {3, 5}, {400, 400}, {0.5, 0.5})};
  return set;
}

TEST(Keep, EachFilterAndTheirCombinations) {
  using O = zarn::KeepOptions;
  const auto band = [](double lo, double hi) {
    O o;
    o.band_lo = lo;
    o.band_hi = hi;
    return o;
  };
  const auto with = [](O o, auto field, auto value) {
    o.*field = value;
    return o;
  };
  const struct {
    const char* what;
    O options;
    std::vector<double> kept;
  } cases[] = {
      {"no filter keeps everything, empty partials too", O{}, {0, 1, 2, 3, 4, 5}},
      {"band around 200 Hz", band(150, 250), {0, 4}},
      {"a band of one frequency, the plain mean", band(50, 50), {2}},
      {"duration at least 0.5 s", with(O{}, &O::min_duration, 0.5), {0, 1, 4, 5}},
      {"level at least -20 dB", with(O{}, &O::min_level, -20.0), {0, 1, 4, 5}},
      {"level at least -19.9 dB", with(O{}, &O::min_level, -19.9), {0, 4, 5}},
      {"the two of greatest energy, the tie to the earlier", with(O{}, &O::max_partials, 2), {0, 4}},
      {"three, in their order", with(O{}, &O::max_partials, 3), {0, 4, 5}},
      {"none", with(O{}, &O::max_partials, 0), {}},
      {"the count among those the band keeps", with(band(150, 450), &O::max_partials, 1), {0}},
      {"the count among those the duration keeps", with(with(O{}, &O::min_duration, 1.0), &O::max_partials, 2), {0, 4}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    zarn::PartialSet set = analysis();
    zarn::keep(set, c.options);
    std::vector<double> kept;
    for (const zarn::Partial& p : set.partials) kept.push_back(p.place);
    EXPECT_EQ(kept, c.kept);
  }
}

// The partials of greatest energy go back to their order in the file, which their energies do
// not follow here (0.5, 0.1, 0.9).
TEST(Keep, GreatestEnergiesInTheirOrder) {
  zarn::PartialSet set;
  set.partials = {partial(0, {0, 2}, {100, 100}, {0.5, 0.5}), partial(1, {0, 2}, {200, 200}, {0.1, 0.1}),
                  partial(2, {0, 2}, {300, 300}, {0.9, 0.9})};
  zarn::KeepOptions o;
  o.max_partials = 2;
  zarn::keep(set, o);
  ASSERT_EQ(set.P(), 2);
  EXPECT_EQ(set.partials[0].place, 0);
  EXPECT_EQ(set.partials[1].place, 2);
}

TEST(Keep, MeanFrequencyAndEnergy) {
  const zarn::PartialSet set = analysis();
  EXPECT_EQ(zarn::mean_frequency(set.partials[0]), 200);
  EXPECT_EQ(zarn::mean_frequency(set.partials[2]), 50);
  EXPECT_EQ(zarn::detail::energy(set.partials[0]), 1);
  EXPECT_EQ(zarn::detail::energy(set.partials[4]), 0.5);
  EXPECT_EQ(zarn::band_problem(1, 2), "");
  EXPECT_NE(zarn::band_problem(2, 1), "");
}

}  // namespace

// The partials of a sound from a spool: fetched back as they were set aside (across the blocks
// the spool is written in), and the partials that reach half the rate counted as a set held
// whole counts them.
#include "render/voices.hpp"

#include <vector>

#include <gtest/gtest.h>

#include "render/sound.hpp"

namespace {

zarn::Resampled partial(double first, double step, const std::vector<double>& freq, double amp) {
  zarn::Resampled r;
  for (std::size_t k = 0; k < freq.size(); ++k) r.time.push_back(first + static_cast<double>(k) * step);
  r.freq = freq;
  r.amp.assign(freq.size(), amp);
  return r;
}

TEST(SpooledVoices, FetchedAsSetAsideAndCountedAsAWholeSet) {
  constexpr int kRate = 44100;
  zarn::ResampledSet set;
  set.step = 0.01;
  set.partials = {
      partial(0.5, 0.01, {440, 450}, 0.1),
      partial(0, 0.01, {22049.99, 22049.99}, 0.1),   // just below half the rate
      partial(0, 0.01, {22050, 100}, 0.1),            // at it, once
      partial(0.2, 0.01, {30000}, 0.1),               // above it, but one point sounds nothing
      zarn::Resampled{},
      partial(0.1, 0.01, std::vector<double>(50000, 300.0), 0.2),  // past a block of the spool
      partial(0.3, 0.01, {100, 200, 25000}, 0.1),
  };
  zarn::SpooledVoices spooled(set.step);
  spooled.set_input(zarn::Noise{}, 0, kRate);
  for (const zarn::Resampled& part : set.partials) spooled.add(part);
  EXPECT_EQ(spooled.at_half_rate(), 2);
  EXPECT_EQ(spooled.at_half_rate(), zarn::partials_at_half_rate(set, kRate));
  ASSERT_EQ(spooled.count(), set.partials.size());
  EXPECT_EQ(spooled.last_time(), 0.1 + 49999 * 0.01);
  // Fetched out of order, as partials start to sound.
  for (const std::size_t p : {5, 0, 6, 2, 1, 3}) {
    const zarn::Resampled& got = spooled.fetch(p);
    EXPECT_EQ(spooled.points(p), set.partials[p].N());
    EXPECT_EQ(spooled.first_time(p), set.partials[p].time.front());
    EXPECT_EQ(got.time, set.partials[p].time) << p;
    EXPECT_EQ(got.freq, set.partials[p].freq) << p;
    EXPECT_EQ(got.amp, set.partials[p].amp) << p;
    spooled.release(p);
  }
  EXPECT_EQ(spooled.points(4), 0);
}

}  // namespace

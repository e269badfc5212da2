// The noise's own gain, and the edits of the partials that the noise follows: --gain scales
// its power, --time-scale its times, --transpose leaves it; a power made infinite is refused.
#include "edit/noise_gain.hpp"

#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "edit/scale.hpp"
#include "support.hpp"

namespace {

zarn::PartialSet with_noise() {
  zarn::PartialSet set;
  set.noise.edges = {0, 100};
  set.noise.times = {0.5, 1.0};
  set.noise.power = {1e-3, 2e-3};
  return set;
}

TEST(NoiseGain, TheNoiseFollowsTheEditsOfItsOwn) {
  const struct {
    const char* what;
    zarn::ScaleOptions scale;
    double noise_gain;
    std::vector<double> times, power;
  } cases[] = {
      {"--noise-gain=10", {}, 10, {0.5, 1.0}, {1e-2, 2e-2}},
      {"--gain=-10", {1.0, 0.0, -10}, 0, {0.5, 1.0}, {1e-4, 2e-4}},
      {"--time-scale=2", {2.0, 0.0, 0.0}, 0, {1.0, 2.0}, {1e-3, 2e-3}},
      {"--transpose=1200", {1.0, 1200, 0.0}, 0, {0.5, 1.0}, {1e-3, 2e-3}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    zarn::PartialSet set = with_noise();
    zarn::scale(set, c.scale, "in");
    zarn::change_noise(set, {c.noise_gain}, "in");
    EXPECT_EQ(set.noise.times, c.times);
    for (std::size_t i = 0; i < c.power.size(); ++i) EXPECT_NEAR(set.noise.power[i], c.power[i], 1e-15);
  }
  zarn::PartialSet set = with_noise();
  try {
    zarn::change_noise(set, {4000}, "in.ats");
    ADD_FAILURE() << "not refused";
  } catch (const zarn::Failure& f) {
    EXPECT_EQ(f.message, "zarn: in.ats: after --noise-gain the noise's power is not finite\n");
  }
}

}  // namespace

// Formants kept: a vowel-like tone (harmonics of 150 Hz under an envelope of three formants,
// each wider than the harmonics' spacing, which cannot show a narrower one)
// transposed 7 semitones keeps the envelope within 2 dB at every new frequency inside the old
// range, held flat beyond it; no transposition changes nothing.
#include "edit/formants.hpp"

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace {

// The vowel's envelope in dB: three resonances over a falling slope.
double vowel_db(double f) {
  double db = -12 * std::log2(f / 150);
  for (const auto& [centre, width] : {std::pair<double, double>{700, 200}, {1200, 250}, {2600, 350}})
    db += 18 / (1 + std::pow((f - centre) / width, 2));
  return db - 20;
}

TEST(Formants, ATransposedVowelKeepsItsEnvelope) {
  zarn::PartialSet set;
  for (int k = 1; k <= 25; ++k) {
    zarn::Partial p;
    for (int j = 0; j < 5; ++j) zarn::add_breakpoint(p, 0.01 * j + 0.001 * k, 150.0 * k, std::pow(10.0, vowel_db(150.0 * k) / 20));
    set.partials.push_back(p);
  }
  const zarn::PartialSet before = set;
  zarn::keep_formants(set, 1.0);
  EXPECT_EQ(set.partials[3].amp, before.partials[3].amp);
  const double ratio = std::pow(2.0, 700.0 / 1200);
  zarn::keep_formants(set, ratio);
  for (std::size_t k = 0; k < set.partials.size(); ++k) {
    const double f = set.partials[k].freq[2] * ratio;
    const double db = 20 * std::log10(set.partials[k].amp[2]);
    if (f <= 150.0 * 25) EXPECT_NEAR(db, vowel_db(f), 2.0) << f;
    else EXPECT_NEAR(db, vowel_db(150.0 * 25), 0.5) << f;  // beyond the highest: held
  }
}

// Steady partials, each transposed up and down with the formants kept: no new level lies above
// the levels of the envelope's points either side of its new frequency (as merged and with
// dips left out), whatever the partials' spacing, and a partial that is a point of the envelope
// lies within them; a weak partial under the envelope stays as far under it.
TEST(Formants, NeverBeyondTheNeighbouringPoints) {
  using Peaks = std::vector<std::pair<double, double>>;  // (hertz, dB)
  const struct {
    const char* what;
    Peaks partials;
  } cases[] = {
      {"a near duplicate 0.4 Hz apart", {{200, -20}, {1000, -40}, {1000.4, -60}, {3000, -50}}},
      {"harmonics with a weak partial between two", {{150, -12}, {300, -18}, {375, -70}, {450, -9}, {600, -24}, {750, -30}}},
      {"a steep slope", {{100, -3}, {110, -80}, {2000, -6}, {2100, -75}, {4000, -20}}},
  };
  for (const auto& c : cases) {
    for (const double cents : {700.0, -700.0, 1900.0}) {
      SCOPED_TRACE(std::string(c.what) + ", " + std::to_string(cents) + " cents");
      zarn::PartialSet set;
      for (const auto& [f, db] : c.partials) {
        zarn::Partial p;
        for (int j = 0; j < 3; ++j) zarn::add_breakpoint(p, 0.01 * j, f, std::pow(10.0, db / 20));
        set.partials.push_back(p);
      }
      const Peaks envelope = zarn::detail::envelope_points(c.partials);
      const double ratio = std::pow(2.0, cents / 1200);
      zarn::keep_formants(set, ratio);
      for (const zarn::Partial& p : set.partials) {
        const double x = std::log(p.freq[1] * ratio), db = 20 * std::log10(p.amp[1]);
        double lo = envelope.front().second, hi = lo;
        std::size_t i = 0;
        while (i < envelope.size() && envelope[i].first < x) ++i;
        if (i == envelope.size()) lo = hi = envelope.back().second;
        else if (i > 0) lo = std::min(envelope[i - 1].second, envelope[i].second), hi = std::max(envelope[i - 1].second, envelope[i].second);
        bool on_envelope = false;
        for (const auto& point : envelope) on_envelope = on_envelope || std::fabs(point.first - std::log(p.freq[0])) < 1e-12;
        if (on_envelope) {
          EXPECT_GE(db, lo - 1e-9) << p.freq[1];
        }
        EXPECT_LE(db, hi + 1e-9) << p.freq[1];
      }
    }
  }
  // The near duplicates are one point, as loud as the louder, at the power-weighted frequency; the
  // weak partial between harmonics is no point of the envelope.
  const Peaks near = zarn::detail::envelope_points({{1000.4, -60}, {1000, -40}, {200, -20}});
  ASSERT_EQ(near.size(), 2u);
  EXPECT_NEAR(near[1].second, -40, 1e-9);
  EXPECT_NEAR(std::exp(near[1].first), (1000 * 1e-4 + 1000.4 * 1e-6) / (1e-4 + 1e-6), 1e-9);
  EXPECT_EQ(zarn::detail::envelope_points({{300, -18}, {375, -70}, {450, -9}}).size(), 2u);
  // That weak partial, a fifth up, lies as far under the envelope at 562.5 Hz as it did at 375.
  zarn::PartialSet weak;
  for (const auto& [f, level] : std::vector<std::pair<double, double>>{{300, -18}, {375, -70}, {450, -9}, {600, -30}}) {
    zarn::Partial p;
    for (int j = 0; j < 3; ++j) zarn::add_breakpoint(p, 0.01 * j, f, std::pow(10.0, level / 20));
    weak.partials.push_back(p);
  }
  const Peaks points = zarn::detail::envelope_points({{300, -18}, {375, -70}, {450, -9}, {600, -30}});
  zarn::keep_formants(weak, 1.5);
  const double under = -70 - zarn::detail::envelope_at(points, std::log(375.0));
  EXPECT_NEAR(20 * std::log10(weak.partials[1].amp[1]), zarn::detail::envelope_at(points, std::log(562.5)) + under, 1e-9);
  EXPECT_EQ(zarn::detail::envelope_points({{300, -18}, {375, -25}, {450, -9}}).size(), 3u);
}

}  // namespace

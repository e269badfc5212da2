// Formants kept: a vowel-like tone (harmonics of 150 Hz under an envelope of three formants,
// each wider than the harmonics' spacing, which cannot show a narrower one)
// transposed 7 semitones keeps the envelope within 2 dB at every new frequency inside the old
// range, held flat beyond it; no transposition changes nothing.
#include "edit/formants.hpp"

#include <cmath>
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

}  // namespace

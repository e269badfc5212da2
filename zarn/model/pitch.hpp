// The fundamental of one instant's sinusoids: the frequency whose harmonics explain most of
// their energy, found among the strongest ones' subharmonics. The analysis follows it through a
// sound, and the edits judge partials' harmonic numbers by it.
#pragma once

#include <utility>
#include <vector>

namespace zarn {

/// The range a fundamental is looked for in, hertz, by default.
constexpr double kFundamentalLo = 30, kFundamentalHi = 2000;

/// The harmonic of the fundamental `c` that the frequency f is (within about 50 cents, and a
/// fifth of the fundamental), or 0 for none.
int harmonic_of(double f, double c);

namespace detail {

/// The fundamental of one instant's partials (frequencies and amplitudes) beside noise of
/// mean square `noise`, within [lo, hi]: its frequency (0 for none) and confidence. `before`
/// is the fundamental an instant before (0 for none), which a candidate near it is favoured by.
std::pair<double, double> fundamental_of(const std::vector<double>& freq, const std::vector<double>& amp, double noise, double lo, double hi,
                                         double before = 0);

}  // namespace detail

}  // namespace zarn

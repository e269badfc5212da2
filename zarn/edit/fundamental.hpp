// The fundamental of partials over time: at each time, the frequency whose harmonics explain
// most of the partials' energy sounding then (and none of the noise's), found among the
// strongest partials' subharmonics, and how sure that is.
#pragma once

#include <string>
#include <vector>

#include "model/partials.hpp"
#include "model/pitch.hpp"

namespace zarn {

/// What is wrong with a range of fundamentals (LO:HI in hertz); empty when it can be used.
std::string fundamental_range_problem(double lo, double hi);

/// The fundamental of `set` at times 0, step, 2 step, ... to its last breakpoint (or noise
/// frame), within [lo, hi] Hz: each from the partials sounding then (frequency and amplitude
/// between breakpoints in proportion) and the set's noise there. Throws Failure where the
/// frames would not fit in memory or number more than 2^31 - 1.
Fundamental fundamental(const PartialSet& set, double step, double lo = kFundamentalLo, double hi = kFundamentalHi);

/// The fundamental at the frames of kHarmonicStep that the set's breakpoints are judged by
/// (fundamental_near): every frame from 0, as fundamental(set, kHarmonicStep) gives them,
/// where they are not many more than the breakpoints; else only the frames nearest a
/// breakpoint, so that the work follows the breakpoints, not the time they span.
Fundamental fundamental_of_breakpoints(const PartialSet& set);

/// The fundamental as text, a line for each time: "time Hz confidence" (Hz 0 for none).
std::string fundamental_text(const Fundamental& f0);

/// Each partial's harmonic number (0 for none): its 1HRM index where it came as one, else the
/// harmonic of the set's fundamental (fundamental_of_breakpoints) that at least half of its
/// breakpoints lie on.
std::vector<int> harmonic_numbers(const PartialSet& set);

/// The seconds between the estimates of the fundamental that harmonic numbers are judged by.
constexpr double kHarmonicStep = 0.01;

/// The same, judged by `f0` (the set's fundamental at multiples of kHarmonicStep).
std::vector<int> harmonic_numbers(const PartialSet& set, const Fundamental& f0);

/// The fundamental that `f0` (estimates at multiples of kHarmonicStep) gives at `time`: the
/// nearest multiple's estimate; 0 for none.
double fundamental_near(const Fundamental& f0, double time);

}  // namespace zarn

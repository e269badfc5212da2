// Harmonic partials: each partial labelled with its harmonic number of the fundamental (as
// SDIF 1HRM holds it), the fragments of one harmonic joined into one partial through a voiced
// stretch, and the partials that are no harmonic left out.
#pragma once

#include "model/partials.hpp"

namespace zarn {

/// The longest gap, in seconds, across which two fragments of one harmonic are one partial.
constexpr double kHarmonicGap = 0.1;

/// Makes the set harmonic partials: each partial with a harmonic number (see harmonic_numbers)
/// takes it as its index; those of one number that follow each other within kHarmonicGap are
/// joined (where two overlap in time, the one of less energy is left out); partials without a
/// number are left out.
void make_harmonic(PartialSet& set);

}  // namespace zarn

// Keeping the formants through a transposition: each partial's level at each breakpoint is
// set to the spectral envelope of the partials sounding then, read at the frequency the
// partial is transposed to, so that a transposed voice keeps its vowels.
#pragma once

#include "model/partials.hpp"

namespace zarn {

/// Sets every breakpoint's amplitude to the envelope at its frequency times `ratio`: the
/// envelope of the partials sounding at its time (their levels in dB, between their
/// frequencies by a cubic on a logarithmic scale, the lowest's and highest's beyond them).
/// The frequencies are left as they are (the transposition itself is another edit's).
void keep_formants(PartialSet& set, double ratio);

}  // namespace zarn

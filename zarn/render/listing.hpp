// What a run shows on the console: the banner, each partial's resampled length, and every
// resampled breakpoint.
#pragma once

#include <vector>

#include "model/partials.hpp"
#include "io/output.hpp"

namespace zarn {

/// "============= KV ==============\n", the first line of every run.
void write_banner(Output& out);

/// One "Len2: N points" line per partial, given its number of points, then an empty line.
void write_lengths(Output& out, const std::vector<int>& points);

/// "time --> frequency<TAB>amplitude" with six decimals for every resampled breakpoint, each
/// partial followed by an empty line.
void write_listing(Output& out, const ResampledSet& set);

}  // namespace zarn

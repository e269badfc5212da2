// Deterministic, real-looking analyses for benchmarks.
#pragma once

#include <cstdint>
#include <string>

namespace zarn_bench {

/// A partial list file of `partials` partials of 4 to 2,000 breakpoints every ~5.8 ms with
/// jitter, gliding frequencies with vibrato and levels with fades; the same text for a seed.
std::string make_analysis(long partials, std::uint64_t seed);

}  // namespace zarn_bench

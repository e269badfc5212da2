// Deterministic, real-looking analyses for benchmarks.
#pragma once

#include <cstdint>
#include <string>

namespace zarn_bench {

/// A partial list file of `partials` partials of 4 to 2,000 breakpoints every ~5.8 ms with
/// jitter, gliding frequencies with vibrato and levels with fades, starting anywhere within
/// `span` seconds; the same text for a seed.
std::string make_analysis(long partials, std::uint64_t seed, double span = 600.0);

/// The analysis on the aligned grid at about its own spacing (5.8 ms), so that it keeps about
/// as many breakpoints, written in `format` ("list" or "sdif"): the same partial data in each.
std::string framed(const std::string& list_text, const std::string& format);

}  // namespace zarn_bench

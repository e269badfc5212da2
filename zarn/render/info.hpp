// What a person checks before working on an analysis: its format and what its reader saw,
// how many partials and breakpoints, its time span, frequency and level ranges, its shortest
// and longest partial and how many are shorter than a step.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "io/output.hpp"
#include "model/partials.hpp"

namespace zarn {

/// The figures of a set of partials as read.
struct Info {
  int partials = 0;
  long long breakpoints = 0;
  double time_lo = 0, time_hi = 0;      // seconds (or the file's unit of time)
  double freq_lo = 0, freq_hi = 0;      // Hz
  double level_lo = 0, level_hi = 0;    // dB
  double shortest = 0, longest = 0;     // the partials' spans
  int shortest_at = 0, longest_at = 0;  // which partials those are, from 1
  int shorter_than_step = 0;            // partials whose span is shorter than `step`
};

/// The figures of `set`, with partials counted as shorter than `step`.
Info info_of(const PartialSet& set, double step);

/// The figures as aligned "name: value" lines: the input's name, the format and what the
/// reader saw, then the figures.
std::vector<std::pair<std::string, std::string>> info_lines(const std::string& input, const PartialSet& set, const Info& info,
                                                            double step);

/// Writes lines with their names padded to one width, "Name   : value".
void write_info(Output& out, const std::vector<std::pair<std::string, std::string>>& lines);

}  // namespace zarn

// The partial list file: a parenthesised list of partials, each a parenthesised list of
// breakpoints (time, frequency in hertz, level in decibels), as whitespace-separated tokens:
//
//   ( PARTIALS  P
//   ( POINTS  M
//       time  frequency  level      (M lines)
//   )
//   ...                             (P partials)
//   )
#pragma once

#include <functional>

#include "model/partials.hpp"
#include "io/output.hpp"
#include "io/tokens.hpp"

namespace zarn {

/// Reads a whole partial list; throws Failure naming the file, line and token on any fault.
PartialSet read_partials(Input& in);

/// Reads a partial list one partial at a time, as read_partials reads it: `count` is told how
/// many partials the list holds, then `each` is given each partial (p from 0) as it is read;
/// its memory is used again for the next.
void read_partials_each(Input& in, const std::function<void(int count)>& count, const std::function<void(Partial& part, int p)>& each);

/// Writes the resampled breakpoints of every partial, each figure narrowed to single precision.
void write_partials(Output& out, const ResampledSet& set);

/// The same file a part at a time: its header for `count` partials, each partial, and its end.
void write_list_start(Output& out, int count);
void write_list_partial(Output& out, const Resampled& part);
void write_list_end(Output& out);

/// Throws Failure naming the first partial and figure that write_partials could not write as
/// a number (a time, frequency or level beyond single precision, or not finite), since the
/// file would not read back.
void check_list_figures(const ResampledSet& set);
/// The same for one partial, the p-th (from 0).
void check_list_partial(const Resampled& part, std::size_t p);

/// A place where written times fail to rise: `partial` (1-based) and the time as written.
struct RepeatedTime {
  int partial = 0;
  double time = 0;
};

/// Finds the first two consecutive resampled times of a partial that write_partials would
/// write alike, which the reader would refuse; false if every partial's times rise as written.
bool first_repeated_time(const ResampledSet& set, RepeatedTime& found);

/// The same for one partial, the p-th (from 0).
bool repeated_time(const Resampled& part, std::size_t p, RepeatedTime& found);

}  // namespace zarn

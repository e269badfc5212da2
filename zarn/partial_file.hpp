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

#include <string>
#include <vector>

#include "text_io.hpp"

namespace zarn {

/// One partial: its M input breakpoints and its N resampled ones.
struct Partial {
  std::vector<double> time, freq, amp;     // input: times, clamped frequencies, linear amplitudes
  std::vector<double> rtime, rfreq, ramp;  // resampled on the uniform grid
  long line = 0;                           // where the partial starts, for messages: see PartialSet::places
  long long first_k = 0;                   // on the aligned grid, rtime[j] is (first_k + j) * step

  /// The number of input breakpoints.
  int M() const { return static_cast<int>(time.size()); }
  /// The number of resampled breakpoints.
  int N() const { return static_cast<int>(rtime.size()); }
};

/// Every partial of one file, in file order.
struct PartialSet {
  /// What Partial::line counts: lines of a text file, or byte offsets in a binary one.
  enum class Places { kLines, kBytes };
  std::vector<Partial> partials;
  Places places = Places::kLines;
  double step = 0;       // the grid's step, once laid
  bool aligned = false;  // the grid is the aligned one: every time a whole multiple of step

  /// The number of partials.
  int P() const { return static_cast<int>(partials.size()); }
};

/// Lowest level held: quieter levels are read as this, and amplitudes of 0 or less are written as it.
constexpr double kFloorDb = -140.0;
/// Lowest frequency held on reading, in hertz.
constexpr double kMinFreq = 4.0;
/// Highest frequency held on reading, in hertz.
constexpr double kMaxFreq = 22050.0;

/// Linear amplitude of a level in decibels, with levels below -140 dB read as -140 dB.
double db2amp(double db);

/// Level in decibels of a linear amplitude; -140 for an amplitude of zero or less.
double amp2db(double amp);

/// Reads a whole partial list; throws Failure naming the file, line and token on any fault.
PartialSet read_partials(Input& in);

/// Writes the resampled breakpoints of every partial, each figure narrowed to single precision.
void write_partials(Output& out, const PartialSet& set);

/// Throws Failure naming the first partial and figure that write_partials could not write as
/// a number (a time, frequency or level beyond single precision, or not finite), since the
/// file would not read back.
void check_list_figures(const PartialSet& set);

/// A place where written times fail to rise: `partial` (1-based) and the time as written.
struct RepeatedTime {
  int partial = 0;
  double time = 0;
};

/// Finds the first two consecutive resampled times of a partial that write_partials would
/// write alike, which the reader would refuse; false if every partial's times rise as written.
bool first_repeated_time(const PartialSet& set, RepeatedTime& found);

}  // namespace zarn

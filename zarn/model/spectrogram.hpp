// A sound's spectrogram as a picture holds it beneath the partials: levels in bytes, column by
// column, few enough that a page stays small whatever the sound's length.
#pragma once

#include <vector>

namespace zarn {

/// Levels over time and frequency, each the level of a sine as strong as the loudest bin of
/// its cell: floor + value * unit dB (0 dB: a full-scale sine); 0 at or below the floor.
struct Spectrogram {
  int columns = 0, rows = 0;
  double start = 0;  // seconds: the centre of column 0
  double hop = 0;    // seconds between columns
  double bin = 0;    // hertz a row; row r is from r * bin to (r + 1) * bin
  double floor = -120, unit = 0.5;
  std::vector<unsigned char> level;  // column after column, rows each, lowest first
};

}  // namespace zarn

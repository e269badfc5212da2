// What a frame's peaks leave: the power of the frame in each band of frequencies outside the
// main lobes of its peaks, the noise beside the partials.
#pragma once

#include <cstddef>
#include <vector>

#include "analysis/peaks.hpp"
#include "analysis/transform.hpp"

namespace zarn {

/// Measures the residual of frames in bands, with the bins of each band found once.
class Residual {
 public:
  /// Bands between `edges` (hertz, rising) of frames of `transform` at `rate`.
  Residual(const FrameTransform& transform, double rate, const std::vector<double>& edges);

  /// Writes the mean power of each band of the frame that `peaks` found last to out[0..bands):
  /// the mean power of a band's bins outside the peaks' main lobes stands for the whole band
  /// (the noise under a lobe taken as the band's around it); a band that lobes fill, or beyond
  /// half the rate, 0.
  void measure(const PeakFinder& peaks, double* out);

 private:
  std::vector<std::size_t> first_;  // each band's first bin; first_[bands] ends the last
  std::vector<double> width_;       // each band's width in bins, to half the rate
  double to_power_;                 // from a sum of bins' powers to a mean square
  std::vector<char> free_;
};

}  // namespace zarn

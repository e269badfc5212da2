// What a frame's peaks leave: the power of the frame in each band of frequencies outside the
// main lobes of its peaks, the noise beside the partials.
#pragma once

#include <cstddef>
#include <vector>

#include "analysis/peaks.hpp"
#include "analysis/transform.hpp"
#include "model/noise.hpp"

namespace zarn {

/// Measures the residual of frames in bands, with the bins of each band found once.
class Residual {
 public:
  /// Bands between `edges` (hertz, rising) of frames of `transform` at `rate`.
  Residual(const FrameTransform& transform, double rate, const std::vector<double>& edges);

  /// Writes the mean power of each band of the frame that `peaks` found last to out[0..bands):
  /// the mean power of a band's bins outside the peaks' main lobes stands for the whole band
  /// (the noise under a lobe taken as the band's around it); a band that lobes fill, or beyond
  /// half the rate, 0. A frame seen in a time warped by `ratio` (the sound's frequencies over
  /// the frame's) holds each band at its frequencies over the ratio.
  void measure(const PeakFinder& peaks, double* out, double ratio = 1.0);

  /// Of the frame measured last, where the energy of the bins outside the lobes lies, in
  /// seconds from the frame's centre (0 without any): late in the window at a noise's onset.
  double offset() const { return offset_; }

  /// Makes noise measured frame by frame (at the frames' centres, each with offset() in
  /// `offsets`) follow its onsets: where the residual rises (6 dB or more) with its energy late in
  /// the frame, the frames before the onset, whose windows reach it, keep the level before it,
  /// and the noise rises within a millisecond at the onset, as loud as the first frame that
  /// sees it whole. `window` is the analysis's.
  static void sharpen_onsets(Noise& noise, const std::vector<double>& offsets, const FrameTransform& window);

 private:
  // Each band's first bin (first_[bands] ends the last) and width in bins, to half the rate,
  // for frames at a ratio of 1; and for the frame at hand, at its ratio.
  void lay_bands(double ratio, std::vector<std::size_t>& first, std::vector<double>& width) const;
  std::vector<double> edges_;
  std::vector<std::size_t> first_, warped_first_;
  std::vector<double> width_, warped_width_;
  double to_power_;                 // from a sum of bins' powers to a mean square
  std::vector<char> free_;
  const FrameTransform& transform_;
  double rate_;
  double offset_ = 0;
};

}  // namespace zarn

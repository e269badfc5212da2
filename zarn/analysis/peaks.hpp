// The peaks of a frame: local maxima of its power spectrum above the floor that stand clearly
// above the local noise, each with its frequency by time-frequency reassignment, its amplitude
// from the energy of its main lobe, and the time of its energy's centre.
#pragma once

#include <cstddef>
#include <vector>

#include "analysis/transform.hpp"

namespace zarn {

/// A partial seen in one frame.
struct Peak {
  double freq, amp;
  double offset;  // seconds from the frame's centre to the centre of the peak's energy
};

/// Finds the peaks of transformed frames, with scratch space kept from frame to frame.
class PeakFinder {
 public:
  /// Peaks of frames of `transform` at `rate`, quieter than the amplitude `floor_amp` left out.
  PeakFinder(const FrameTransform& transform, double rate, double floor_amp);

  /// The peaks of the frame that `transform` holds now, in the order of their bins.
  const std::vector<Peak>& find(const FrameTransform& transform);

 private:
  double rate_, floor_amp_;
  std::vector<double> power_, around_, block_noise_;
  std::vector<Peak> peaks_;
};

namespace detail {

/// The k-th smallest of a[0..n) (k < n, no NaN), the value std::nth_element finds, without
/// its unpredictable branches; a is reordered.
double select_kth(double* a, std::size_t n, std::size_t k);

}  // namespace detail

}  // namespace zarn

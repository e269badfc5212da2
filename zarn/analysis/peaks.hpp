// The peaks of a frame: local maxima of its power spectrum above the floor that stand clearly
// above the local noise, each with its frequency by time-frequency reassignment, its amplitude
// from the energy of its main lobe, and the time of its energy's centre.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include "analysis/transform.hpp"

namespace zarn {

/// A partial seen in one frame.
struct Peak {
  double freq, amp;
  double offset;  // seconds from the frame's centre to the centre of the peak's energy
  double ratio = 1;  // of the frame's warp: the sound's frequency over freq, which a warped
                     // frame measures in its own time (1 for a plain frame)
  double chirp = 0;  // hertz a second the partial glides by, where its bins show it; else 0
  double phase = 0;  // radians: the partial's phase (as A cos phase) at the frame's centre
};

/// Finds the peaks of transformed frames, with scratch space kept from frame to frame.
class PeakFinder {
 public:
  /// Peaks of frames of `transform` at `rate`, quieter than the amplitude `floor_amp` left out.
  PeakFinder(const FrameTransform& transform, double rate, double floor_amp);

  /// The peaks of the frame that `transform` holds now, in the order of their bins.
  const std::vector<Peak>& find(const FrameTransform& transform);
  /// The peaks that find() found last.
  const std::vector<Peak>& peaks() const { return peaks_; }
  /// Of the frame that find() took last, the peaks too unclear to start a partial whose energy
  /// lies off the frame's centre: a partial's first or last frames, which see it in part.
  const std::vector<Peak>& edges() const { return edges_; }
  /// Of the frame that find() took last, the power of each bin (0 to the transform's size / 2),
  /// and the main lobes of its peaks as ranges of bins [first, last].
  const std::vector<double>& power() const { return power_; }
  const std::vector<std::pair<std::size_t, std::size_t>>& lobes() const { return lobes_; }

 private:
  double rate_, floor_amp_;
  struct Candidate {
    std::size_t k, lo, hi;  // the peak's bin and its main lobe's
    double omega, offset;   // reassigned frequency (radians a sample), time (seconds)
    double omega_lo, omega_hi;  // the neighbouring bins' reassigned frequencies
    double chirp;           // radians a sample, a second (0: steady or not a glide)
    bool sinusoid, likely;
  };
  std::vector<double> power_, around_, block_noise_;
  std::vector<char> free_;  // bins outside likely sinusoids' main lobes
  std::vector<Candidate> candidates_;
  // The log of the power ratio of the bins above and below a sinusoid's peak bin, at its
  // distance from the bin from -1 to 1 bin in even steps; and that distance from the ratio.
  std::vector<double> level_ratio_;
  double level_offset(double log_ratio) const;
  // Bin k's reassigned frequency (radians a sample: the bin's less the phase's rate of change
  // across the window) and time (seconds from the frame's centre: where its energy lies), in
  // the frame `t` holds, whose powers are power_.
  double reassigned(const FrameTransform& t, std::size_t k) const;
  double reassigned_time(const FrameTransform& t, std::size_t k) const;
  // Widens the main lobe [lo, hi] about bin k while the power falls, to at most `reach` bins
  // to either side.
  void widen(std::size_t k, std::size_t reach, std::size_t& lo, std::size_t& hi) const;
  // The frame's local maxima above `floor_power`, with their main lobes (candidates_), and the
  // bins outside the lobes of likely sinusoids (free_).
  void find_candidates(const FrameTransform& t, std::size_t lobe_bins, double floor_power);
  // The local noise of block q of `block` bins (of bins 0 to K), found when a candidate first
  // needs it and kept for the frame (block_noise_, -1 until then).
  double block_noise(std::size_t q, std::size_t block, std::size_t K);
  // The rate a candidate glides at, where its bins show one (see peaks.cpp); else 0.
  double glide_rate(const FrameTransform& t, const Candidate& c) const;
  std::vector<Peak> peaks_, edges_;
  std::vector<std::pair<std::size_t, std::size_t>> lobes_;
};

namespace detail {

/// The k-th smallest of a[0..n) (k < n, no NaN), the value std::nth_element finds, without
/// its unpredictable branches; a is reordered.
double select_kth(double* a, std::size_t n, std::size_t k);

}  // namespace detail

}  // namespace zarn

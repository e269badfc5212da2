// The sound of the noise beside the partials: white noise shaped, frame by frame, so that each
// band holds the power the noise asks for at that time and nothing leaks from a band into its
// neighbours, frames overlapping by half under a window whose squares sum to one. The same
// samples whatever the blocks it is made in.
#pragma once

#include <complex>
#include <cstdint>
#include <vector>

#include "model/noise.hpp"

namespace zarn {

namespace detail {
/// The discrete Fourier transform of a size (a power of two), its rotations worked out once
/// for every frame it runs on.
class Fft {
 public:
  explicit Fft(std::size_t n);
  /// x (of the size) transformed in place, forward or inverse (unnormalised): the sum over j
  /// of x[j] e^{-+2 pi i j k / n}.
  void run(std::vector<std::complex<double>>& x, bool inverse) const;

 private:
  // Each stage's rotations, for stages of length 2, 4, ... n: stage len's at [len / 2 - 1, len - 1).
  std::vector<std::complex<double>> forward_, inverse_;
};
}  // namespace detail

/// Band-limited noise shaped by a Noise, made a block at a time.
class NoiseSound {
 public:
  /// The sound of `noise` (which must outlive it) at `rate` samples a second.
  NoiseSound(const Noise& noise, int rate);

  /// Adds samples `from` to `to` (sample n at time n / rate) to out[0..to - from); blocks must
  /// follow each other.
  void add(double* out, long from, long to);

  /// Where the noise ends, in seconds: its last frame's time; negative without frames.
  static double end(const Noise& noise);

 private:
  /// The windowed samples of frame k, which covers samples k H to k H + N, and its power in all.
  const std::vector<double>& frame(long k);
  double frame_power(long k);
  /// The noise's power in all (of the bands below half the rate) at sample n: at every
  /// kControl-th sample, linear between.
  double power_at(long n);
  double total_at(long sample);

  const Noise& noise_;
  int rate_;
  std::size_t N_, H_;               // a frame's length and the hop between frames (N / 2)
  std::vector<double> window_;      // sin, whose squares at frames a hop apart sum to one
  std::vector<int> band_of_;        // each bin's band below half the rate (-1: none)
  std::vector<double> bins_;        // how many bins each band has
  std::vector<double> power_;       // the bands' powers at a frame's centre
  std::vector<std::complex<double>> spectrum_;
  detail::Fft fft_;
  long cached_[2] = {-2, -2};       // the frames held, by number
  std::vector<double> held_[2];
  double held_power_[2] = {0, 0};
  long control_ = -1;               // the control point whose power and the next's are held
  double control_power_[2] = {0, 0};
};

}  // namespace zarn

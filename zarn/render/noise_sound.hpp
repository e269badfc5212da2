// The sound of the noise beside the partials: in each band, white noise through a band-pass
// filter, scaled so that its mean square follows the band's power over time. The same samples
// whatever the blocks it is made in.
#pragma once

#include <cstdint>
#include <vector>

#include "model/noise.hpp"

namespace zarn {

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
  struct Section {  // one biquad, transposed direct form II
    double b0, b1, b2, a1, a2, z1 = 0, z2 = 0;
    double run(double x) {
      const double y = b0 * x + z1;
      z1 = b1 * x - a1 * y + z2;
      z2 = b2 * x - a2 * y;
      return y;
    }
  };
  struct Band {
    std::vector<Section> sections;
    double gain = 0;         // the filter's mean square for white noise of mean square 1
    std::uint64_t seed = 0;  // its own white noise
  };
  const Noise& noise_;
  int rate_;
  std::vector<Band> bands_;
  std::vector<double> at_, next_;  // the bands' amplitudes at the last control point and the next
  long control_ = -1;              // the sample of the last control point
};

}  // namespace zarn

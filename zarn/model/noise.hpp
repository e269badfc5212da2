// The noise beside the partials: what the partials leave of a sound, held as the mean power of
// each band of frequencies, frame by frame. An analysis measures it in the 25 critical bands;
// ATS files of types 3 and 4 hold it; the sound plays it as band-limited noise.
#pragma once

#include <cstddef>
#include <vector>

namespace zarn {

/// Noise as band powers over time; empty where there is none.
struct Noise {
  std::vector<double> edges;  // band edges in hertz, rising: bands() + 1 of them
  std::vector<double> times;  // frame times in seconds, rising
  std::vector<double> power;  // frame by frame, bands() each: the band's mean square (full scale 1.0)

  /// The number of bands.
  std::size_t bands() const { return edges.empty() ? 0 : edges.size() - 1; }
  /// True where there is no noise.
  bool empty() const { return times.empty(); }
  /// The frame `j`'s band powers.
  const double* frame(std::size_t j) const { return power.data() + j * bands(); }
  /// Writes the band powers at `time` to out[0..bands()): between two frames in proportion,
  /// the first or last frame's within half a frame's spacing of it, 0 farther out.
  void at(double time, double* out) const;
};

/// The edges of the 25 critical bands, from 0 to 20 kHz.
const std::vector<double>& critical_band_edges();

/// Noise in the critical bands with no frames yet.
Noise critical_band_noise();

/// The critical bands split where they are wide, so that the noise can follow a spectrum that
/// is steep within one (a sound band-limited inside a band): each band of 400 Hz or more into
/// as many equal parts as hold 200 Hz each, at most four.
std::vector<double> fine_band_edges();

/// The noise on other band edges: each band's power the sum of the powers of the bands it
/// overlaps, in proportion to the overlap (the power taken as even across a band).
Noise on_edges(const Noise& noise, const std::vector<double>& edges);

/// Noise measured on fine_band_edges() joined again, within each critical band, where its
/// parts hold much the same power for their width over the whole sound (within a factor of
/// two): the parts stay apart only where the spectrum within the band is steep.
void join_even_bands(Noise& noise);

}  // namespace zarn

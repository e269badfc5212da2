// Tracks from frame to frame: each track predicts its next frequency along its own slope,
// peaks within its tolerance are matched nearest first, a track may miss a few frames, and
// a track that misses more ends.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

#include "analysis/peaks.hpp"
#include "model/partials.hpp"

namespace zarn {

/// A partial as tracked: its breakpoints at the frames' centres, each with its peak's offset.
struct Track {
  Partial part;
  std::vector<double> offsets;  // each breakpoint's Peak::offset
  std::vector<double> ratios;   // each breakpoint's Peak::ratio
  long last_frame = 0;
  int missed = 0;

  /// The frequency expected at frame j: on from the last breakpoint along the slope of the
  /// last few, which one odd breakpoint (two partials meeting in one peak) does not throw off.
  double predicted(long j, double hop_seconds) const;
  /// How far the track's slope has lately missed its next breakpoint, in hertz a frame: the
  /// largest second difference of its last few breakpoints.
  double bending() const;
};

/// Follows the peaks of frames a hop apart into tracks.
class Tracker {
 public:
  /// Tracks of partials `resolution` Hz apart in frames `hop_seconds` apart; each track that
  /// ends is handed to `ended`.
  Tracker(double resolution, double hop_seconds, std::function<void(Track&)> ended);

  /// Takes the peaks of frame `frame`, centred at `time`, and its edges (PeakFinder::edges):
  /// a track that starts takes the edges of the frames before it that lead up to it, a
  /// track that finds no peak takes an edge where it stops.
  void take(long frame, double time, const std::vector<Peak>& peaks, const std::vector<Peak>& edges = {});
  /// Ends every track still open.
  void end_all();

 private:
  double resolution_, hop_seconds_;
  std::function<void(Track&)> ended_;
  std::vector<Track> tracks_;
  // The edges of the last few frames, each with whether a track has taken it.
  struct Edges {
    long frame;
    double time;
    std::vector<Peak> peaks;
    std::vector<char> taken;
  };
  std::vector<Edges> recent_;
  double tolerance(double freq) const;
  void start_tracks(long frame, double time, const std::vector<Peak>& peaks, const std::vector<char>& peak_taken);
};

}  // namespace zarn

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
  double chirp = 0;  // the last breakpoint's glide (Peak::chirp), in hertz a second

  /// The frequency expected at frame j: on from the last breakpoint along the slope of the
  /// last few, which one odd breakpoint (two partials meeting in one peak) does not throw off;
  /// from a track's first breakpoint, along the glide its peak showed.
  /// The slope is taken over `span` breakpoints back.
  double predicted(long j, double hop_seconds, std::size_t span = 3) const;
  /// How far the track's slope has lately missed its next breakpoint, in hertz a frame: the
  /// largest second difference of its last `span` breakpoints.
  double bending(std::size_t span = 3) const;
};

/// Follows the peaks of frames a hop apart into tracks.
class Tracker {
 public:
  /// Tracks of partials `resolution` Hz apart in frames `hop_seconds` apart; each track that
  /// ends is handed to `ended`. The rules in time (how long a track may miss its partial,
  /// how far back its slope is taken) are counted in hops of `rule_hop_seconds` (the window's
  /// own hop, a quarter of it) where that is longer than the hop: a denser hop looks as far.
  Tracker(double resolution, double hop_seconds, std::function<void(Track&)> ended, double rule_hop_seconds = 0);

  /// Takes the peaks of frame `frame`, centred at `time`, and its edges (PeakFinder::edges):
  /// a track that starts takes the edges of the frames before it that lead up to it, a
  /// track that finds no peak takes an edge where it stops.
  void take(long frame, double time, const std::vector<Peak>& peaks, const std::vector<Peak>& edges = {});
  /// Ends every track still open.
  void end_all();

 private:
  double resolution_, hop_seconds_;
  long max_gap_, max_coast_;           // frames a track may miss, and one seen in many
  std::size_t coast_after_, slope_span_;  // breakpoints
  double starting_offset_;                // seconds: a peak's energy this late saw its partial start
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

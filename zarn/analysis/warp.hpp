// A time warped by the fundamental's own motion: where a voice or an instrument bends its
// pitch (a vibrato, a glide), each frame is seen again in a time that runs as the fundamental
// does, so that every harmonic holds still through the window however high it lies. The
// fundamental of each frame comes from its plain peaks; the warp is its ratio to the
// fundamental smoothed over a few tenths of a second, so a note's slow course stays as it is
// and only the motion within a window is taken out.
#pragma once

#include <cstddef>
#include <deque>
#include <vector>

#include "analysis/transform.hpp"

namespace zarn {

/// The most a warp speeds or slows a frame's time: two semitones.
constexpr double kMostWarp = 1.122462048309373;

/// Follows the fundamental frame by frame and says, for each frame, whether and how its time
/// is warped: the log of f0 over its course (a straight line, or two either side of a step
/// from note to note, through the frames 0.2 s either side), zero where there is no
/// fundamental followed for 0.2 s, fading to zero toward a step or a break.
class PitchWarp {
 public:
  /// Frames `hop_seconds` apart whose windows reach `reach` frames to either side, and whose
  /// window has the energy's spread `spread` (FrameTransform::spread).
  PitchWarp(double hop_seconds, std::size_t reach, double spread);

  /// The next frame's fundamental in hertz (0 for none); `edge`: its window reaches beyond
  /// the sound, which spreads its partials, and it is followed but not trusted for the course.
  void add(double f0, bool edge = false);
  /// No frames come after those added.
  void end() { ended_ = true; }
  /// The frames added so far.
  long added() const { return base_ + static_cast<long>(f0_.size()); }
  /// Whether frame j's warp is known: enough frames after it have been added, or all have.
  bool ready(long j) const { return ended_ || added() > j + static_cast<long>(lag_); }
  /// Whether frame j (ready) is warped at all: the fundamental moves near it by more than
  /// the least motion worth the work.
  bool warps(long j);
  /// The log of the warp's rate at `frame` (in frames, fractional): the time of the warped
  /// frame runs this much faster than the sound's there. Cubic between frames.
  double log_rate(double frame);
  /// How many frames after j are added before frame j is ready.
  std::size_t lag() const { return lag_; }
  /// Frames before j are no longer asked about.
  void forget_before(long j);

 private:
  double at(long i);  // the log rate at frame i, computed once
  std::size_t reach_, span_, lag_, least_run_ = 0, guard_ = 0;
  double spread_frames_;  // the window's spread in frames squared
  long base_ = 0;                  // the frame number of f0_.front() and rate_.front()
  std::deque<double> f0_;          // log f0 of each frame held; NaN for none
  std::deque<char> edge_;          // whether its window reaches beyond the sound
  std::deque<double> rate_;        // the log rates known so far, from base_ on
  std::vector<double> course_t_, course_f_;  // scratch space for the course
  bool ended_ = false;
};

/// The fundamental of the frame whose X and D `transform` holds (FrameTransform::
/// run_frequencies) at `rate`, from its strongest local maxima at their reassigned
/// frequencies: a first look, for the warp only. `before` is the previous frame's (0 for
/// none); 0 for none. `freq` and `amp` are scratch space.
double frame_fundamental(const FrameTransform& transform, double rate, double before, std::vector<double>& freq, std::vector<double>& amp);

/// Band-limited interpolation between a sound's samples: a windowed sinc of kTaps taps to
/// either side, tabled at kPhases phases a sample, the nearest taken.
class Interpolator {
 public:
  static constexpr int kTaps = 8, kPhases = 2048;
  Interpolator();
  /// The sound at `pos` samples from x[0]; x[floor(pos) - kTaps + 1] to x[floor(pos) + kTaps]
  /// must be held.
  double at(const double* x, double pos) const;

 private:
  std::vector<double> table_;
};

/// The sound in the warped time, sample by sample, as consecutive warped frames read it: each
/// warped sample is interpolated once, however many frames' windows it lies in. The warped
/// time runs exp(log_rate) times the sound's; its samples lie a whole number apart, so that a
/// frame's centre falls within half a warped sample of the frame's own.
class WarpedSound {
 public:
  /// The sound's position is computed every this many warped samples and drawn straight
  /// between: a window reads the warp up to this far beyond its end.
  static constexpr std::size_t kNode = 16;
  /// Frames `hop` samples apart, windows reaching `half` samples to either side.
  WarpedSound(double hop, std::size_t half) : hop_(hop), half_(half) {}

  /// The warped window of frame j (centred on sound sample j hop): its 2 half + 1 samples,
  /// held until the next call, read from the sound held in x[0 ..] whose x[0] is sound sample
  /// `first`, which must reach (half + 1) kMostWarp + Interpolator::kTaps to either side of
  /// the centre. `at` is set to the sound position of the window's centre, in samples (within
  /// a sample of j hop). `continues`: frame j - 1 was warped too, and its warped samples are
  /// used again.
  const double* window(PitchWarp& warp, long j, bool continues, const double* x, long long first, double& at);

 private:
  double sound_at(PitchWarp& warp, double tau);  // the sound's position at warped time tau
  void extend(PitchWarp& warp);                  // one more node
  double hop_;
  std::size_t half_;
  long long tau0_ = 0;         // the warped time of node 0
  std::deque<double> nodes_;   // the sound's position at tau0_ + k kNode, k from node_base_
  long node_base_ = 0;
  long long y_first_ = 0;      // the warped sample number of y_.front()
  std::vector<double> y_;      // the warped samples computed and still needed
  Interpolator interpolate_;
};

}  // namespace zarn

// From a sound to partials: a short-time Fourier transform over the sound as it streams in,
// peaks above the floor and clearly above the local noise, each peak's frequency from time-
// frequency reassignment and its amplitude from the energy of its main lobe (so that neither
// moving partials nor the window's shape cost accuracy), and tracks from frame to frame with
// the frequency predicted from each partial's own motion.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "model/partials.hpp"

namespace zarn {

/// How a sound is analysed.
struct AnalysisOptions {
  double resolution = 40;  // Hz: partials this far apart are told apart; sets the window
  double hop = 0;          // seconds between frames; 0: a quarter of the window
  double floor = -90;      // dB (full scale 1.0): quieter peaks are left out
  double min_track = 0;    // seconds from first to last breakpoint: shorter partials are left
                           // out; 0: those seen in fewer than three frames
  bool noise = true;       // measure what the partials leave, in the critical bands, each frame
  bool warp = true;        // where the fundamental moves, see each frame in a time warped by it
};

/// The highest sample rate analysed, in hertz: beyond it a rate is taken for a broken header.
constexpr double kMaxAnalysisRate = 10e6;

/// The analysis window's length in samples for these options at `rate` (which
/// analysis_problem must have accepted).
std::size_t analysis_window(const AnalysisOptions& options, double rate);

/// What is wrong with the options; empty when they can be used at `rate` samples a second on
/// a sound of `frames` samples (negative: a length not known).
std::string analysis_problem(const AnalysisOptions& options, double rate, long long frames = -1);

/// Analyses mono samples as they come, block by block, in memory that grows with the partials
/// found, not with the sound's length.
class Analyser {
 public:
  /// An analyser of samples at `rate` a second; the options must be usable (see
  /// analysis_problem). Throws Failure where the build cannot transform.
  Analyser(double rate, const AnalysisOptions& options);
  ~Analyser();
  Analyser(const Analyser&) = delete;
  Analyser& operator=(const Analyser&) = delete;

  /// Takes the next n samples.
  void add(const double* samples, std::size_t n);
  /// Ends the sound and gives the partials found, by their first time; times in seconds from
  /// the first sample, amplitudes linear (full scale 1.0), each breakpoint at its frame's centre.
  PartialSet finish();

  /// The window's length and the hop, in samples.
  std::size_t window() const;
  std::size_t hop() const;

 private:
  struct State;
  std::unique_ptr<State> s_;
};

/// Analyses a whole sound held in memory.
PartialSet analyse(const double* samples, std::size_t n, double rate, const AnalysisOptions& options);

}  // namespace zarn

// Additive resynthesis of resampled partials: one oscillator per partial, its frequency and
// amplitude interpolated linearly between grid points and its phase accumulated from the
// frequency, with a short fade at both ends.
#pragma once

#include <memory>
#include <vector>

#include "model/partials.hpp"
#include "render/noise_sound.hpp"
#include "render/voices.hpp"

namespace zarn {

/// The sample rates a sound may have, in hertz, and the one it has unless asked otherwise.
constexpr int kMinRate = 1000, kMaxRate = 768000, kDefaultRate = 44100;

/// The band below half the sample rate, as a share of it, over which a partial fades out
/// as its frequency rises to half the rate; at and above it, it is left out.
constexpr double kHalfRateFade = 0.02;

/// Longest fade at a partial's ends, in seconds (never longer than one grid step).
constexpr double kMaxFade = 0.005;

namespace detail {
class Voice;
/// The sum of the partials' voices run in lanes, in doubles: what a SoundStream rounds to
/// floats, without the noise.
std::vector<double> lane_sum(const ResampledSet& set, int rate);
}  // namespace detail

/// The sound of a resampled set made a block at a time, in memory that follows the partials
/// sounding at once, not the sound's length: the same samples as render gives.
class SoundStream {
 public:
  /// The sound of `set` (which must outlive the stream) at `rate` samples a second.
  SoundStream(const ResampledSet& set, int rate);
  /// The sound of the partials `voices` gives (which must outlive the stream), each fetched
  /// as it starts and released as it ends.
  SoundStream(VoiceSource& voices, int rate);
  ~SoundStream();
  SoundStream(const SoundStream&) = delete;
  SoundStream& operator=(const SoundStream&) = delete;

  /// The number of samples in all: from time 0 to the last grid time of any partial, or the
  /// noise's last frame where that is later.
  long long length() const { return length_; }
  /// The next samples, at most n, into out; how many (0 at the end).
  std::size_t next(float* out, std::size_t n);
  /// The largest magnitude of the samples so far; infinity once one was not a finite number.
  double peak() const { return peak_; }

 private:
  struct Sounding;
  void start();  // the length, and the partials in the order they start
  std::unique_ptr<SetVoices> own_;  // the set's, where the stream was made from one
  VoiceSource& voices_;
  int rate_;
  long long length_ = 0, done_ = 0;
  std::vector<std::size_t> order_;  // partials with a voice, by their first sample
  std::vector<long> firsts_;        // each partial's first sample
  std::size_t started_ = 0;         // of order_
  std::vector<Sounding*> sounding_;  // by their place in the set
  std::vector<double> sum_;
  std::vector<double> rows_;  // the lanes' samples before they are added up
  double peak_ = 0;
  std::unique_ptr<NoiseSound> noise_;  // the set's noise, where it has some
};

/// The number of samples of the sound of `set` at `rate`, from time 0 to the last grid time of
/// any partial (0 when no partial has a point), found without making it.
double sound_length(const ResampledSet& set, int rate);
/// The same of the partials a source gives.
double sound_length(const VoiceSource& voices, int rate);

/// The sound of the resampled set at `rate` samples a second: sample n is the sound at time
/// n / rate, from time 0 to the last grid time of any partial (or the noise's last frame).
/// Amplitudes below zero count as zero; what lies at or above half the rate is left out, faded
/// over the band below it; the noise is added to the partials; the sum is not normalised.
std::vector<float> render(const ResampledSet& set, int rate);

/// How many partials (of two points or more) reach half the rate or above somewhere, where
/// render leaves them out.
int partials_at_half_rate(const ResampledSet& set, int rate);

/// Throws Failure ("out of memory: ...") when the sound that render would make does not fit
/// in the memory available.
void check_sound_memory(const ResampledSet& set, int rate);

/// Scales the samples so that their peak is `peak_db` (dB of full scale) and returns the gain
/// in dB; silence is left as it is (gain 0).
double normalize(std::vector<float>& samples, double peak_db);

/// The largest magnitude among the samples; infinity if any sample is not a finite number.
double peak(const std::vector<float>& samples);

namespace detail {

/// Adds one partial's oscillator into `out`, sample n at time n / rate (samples outside `out`
/// are dropped); `step` is the grid's, which bounds the fade (0: the partial's first interval).
void add_partial(const Resampled& part, double step, int rate, std::vector<double>& out);

}  // namespace detail

}  // namespace zarn

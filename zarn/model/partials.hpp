// The model that every step shares: partials as read (breakpoints at the input's own times)
// and partials resampled (the grid and the fitted values), with the units they are held in.
// Reading gives a PartialSet; edits change one; laying the grid makes a ResampledSet from
// one, and the fit fills it in; the listing, the writers, the picture and the sound take it.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "model/failure.hpp"
#include "model/spectrogram.hpp"
#include "model/noise.hpp"

namespace zarn {

/// Where a partial came from in a file of streams and track types (SDIF), so that a writer of
/// the same kind can keep it; the defaults for every other input.
struct Origin {
  int stream = 0;         // the stream number
  bool harmonic = false;  // a harmonic track (its index the harmonic number), else sinusoidal
  long long index = 0;    // the index the file gave it
};

/// One partial as read: its breakpoints, times rising, frequencies in hertz, amplitudes linear.
struct Partial {
  std::vector<double> time, freq, amp;
  /// The phase at each breakpoint in radians, where the input measured it (an analysis, an
  /// SDIF or ATS file that holds it); empty where it is not known.
  std::vector<double> phase;
  double place = 0;  // where the partial starts in its input, for messages: see PartialSet::places
  Origin origin;

  /// The number of breakpoints.
  int M() const { return static_cast<int>(time.size()); }
};

/// A partial's breakpoints where they lie, for fitting them without a copy: the arrays of a
/// Partial, or arrays held elsewhere (the Python module's).
struct Breakpoints {
  const double* time = nullptr;
  const double* freq = nullptr;
  const double* amp = nullptr;
  int M = 0;
  const double* phase = nullptr;  // radians at each breakpoint; none where not known
};

/// The breakpoints of a partial as read.
inline Breakpoints breakpoints_of(const Partial& part) {
  return {part.time.data(), part.freq.data(), part.amp.data(), part.M(), part.phase.size() == part.time.size() && !part.phase.empty() ? part.phase.data() : nullptr};
}

/// True where a partial carries a phase for every breakpoint.
inline bool has_phase(const Partial& part) { return !part.phase.empty() && part.phase.size() == part.time.size(); }

/// Every partial of one input, in the input's order.
struct PartialSet {
  /// What Partial::place counts: lines of a text file, byte offsets in a binary one, or
  /// seconds (of a sound, where an analysis found the partial).
  enum class Places { kLines, kBytes, kSeconds };
  std::vector<Partial> partials;
  Places places = Places::kLines;
  std::string format;  // the format it was read in, as the table of formats names it
  /// What the reader saw beyond the partials (streams, frame types, a sound's rate), as
  /// (name, value) lines for --info.
  std::vector<std::pair<std::string, std::string>> about;
  std::string passed_over;  // what the reader passed over, for a result with no partials
  std::string damaged;      // what the reader found wrong but read past (a sound cut short), warned of
  Noise noise;              // what the partials leave, where the input holds it
  double hop = 0;           // seconds between the frames of the analysis that made it; 0: none
  double rate = 0;          // the sample rate of the sound analysed; 0: none
  long long samples = 0;    // the sound's length in samples, where it was analysed
  std::shared_ptr<const Spectrogram> spectrogram;  // the sound's, where the page asked for it
  /// Every partial is a sinusoidal track of stream 0, as the partials of a list are written
  /// to SDIF (false where an SDIF input holds harmonic tracks or other streams).
  bool plain_origins = true;

  /// The number of partials.
  int P() const { return static_cast<int>(partials.size()); }
};

/// Where the partials of an input go when they are taken one at a time.
struct PartialSink {
  virtual ~PartialSink() = default;
  /// The input as read so far, without its partials (its format, places, noise, what was
  /// passed over), and how many partials follow.
  virtual void start(const PartialSet& input, int count) = 0;
  /// The p-th partial (from 0); its memory may be used again after.
  virtual void take(Partial& part, int p) = 0;
};

/// The partials of a set that sound at times asked for in rising order, found by one sweep:
/// each one's breakpoint at or before the time, and the share of the way to the next.
class Sounding {
 public:
  /// Where one partial is at the time asked for.
  struct At {
    std::size_t partial, index;  // in the set; its breakpoint at or before the time
    double share;                // of the way from that breakpoint to the next (0 at the last)
  };
  /// The partials of `set` (which must outlive it).
  explicit Sounding(const PartialSet& set);
  /// The partials sounding at `time` (no earlier than the time asked before), in the order of
  /// their first times.
  const std::vector<At>& at(double time);

 private:
  const PartialSet& set_;
  std::vector<std::size_t> order_;  // the partials with breakpoints, by their first time
  std::size_t next_ = 0;            // of order_: the first not yet begun
  std::vector<At> sounding_;
};

/// One of a partial's tracks (its `values`, one for each breakpoint) where `at` says: between
/// the breakpoint and the next in proportion.
inline double value_at(const std::vector<double>& values, const Sounding::At& at) {
  return at.index + 1 < values.size() ? values[at.index] + at.share * (values[at.index + 1] - values[at.index]) : values[at.index];
}

/// A fundamental frequency over time.
struct Fundamental {
  std::vector<double> time;        // seconds, rising
  std::vector<double> freq;        // hertz; 0 where there is none (silence, noise, no harmonic order)
  std::vector<double> confidence;  // from 0 to 1: the share of the sound's energy its harmonics hold
};

/// One partial resampled: its grid times and the fitted frequencies and amplitudes there.
struct Resampled {
  std::vector<double> time, freq, amp;
  /// The phase at each grid time, where the partial carried one (else empty): the cubic that
  /// meets the breakpoints' phases and frequencies, evaluated there.
  std::vector<double> phase;
  long long first_k = 0;  // on the aligned grid, time[j] is (first_k + j) * step
  Origin origin;          // the partial's, as read

  /// The number of grid points.
  int N() const { return static_cast<int>(time.size()); }
};

/// Every partial of a set resampled on one grid, one for each partial read, in their order.
struct ResampledSet {
  std::vector<Resampled> partials;
  double step = 0;       // the grid's step
  bool aligned = false;  // the aligned grid: every time a whole multiple of step
  Noise noise;           // the input's, as read (on its own frames)
  Fundamental fundamental;  // where asked for (--f0), for the formats that hold it
  double length = 0;        // seconds: the sound analysed, which the resynthesis lasts; 0: none

  /// The number of partials.
  int P() const { return static_cast<int>(partials.size()); }
};

/// Which figures a format holds: times, frequencies and amplitudes as single-precision numbers
/// or as doubles; an amplitude that is not a number written (as silence) or refused.
struct FigureRule {
  std::string_view format;  // "a partial list", "an SDIF file", ...
  bool single_precision;
  bool nan_amp_is_silence;
};

/// Throws Failure naming the partial, the figure and its time at the first breakpoint of `set`
/// that a format of `rule` cannot hold, before anything is written.
void check_figures(const ResampledSet& set, const FigureRule& rule);

/// The same for one partial, the p-th (from 0).
void check_partial_figures(const Resampled& part, std::size_t p, const FigureRule& rule);

/// A Failure at the place where a partial starts in the file `file` that `set` was read from.
Failure failure_at(const PartialSet& set, const Partial& part, const std::string& file, const std::string& what);

/// Lowest level held: quieter levels are read as this, and amplitudes of 0 or less are written as it.
constexpr double kFloorDb = -140.0;
/// Lowest frequency held on reading, in hertz.
constexpr double kMinFreq = 4.0;
/// Highest frequency held on reading, in hertz.
constexpr double kMaxFreq = 22050.0;

/// Linear amplitude of a level in decibels, with levels below -140 dB read as -140 dB.
double db2amp(double db);

/// Level in decibels of a linear amplitude; -140 for an amplitude of zero or less.
double amp2db(double amp);

/// For an edit that moved a partial's frequencies or times: its phases, where it had any, made
/// to follow its frequencies from its first breakpoint's phase (a frequency going linearly
/// between breakpoints), so that it stays one coherent sinusoid; a partial without keeps none.
void phase_from_frequencies(Partial& part);

/// The mean of a partial's frequencies weighted by its amplitudes; the plain mean where they
/// sum to 0 (a partial with breakpoints).
double mean_frequency(const Partial& part);

/// db2amp for a reader of many levels: each distinct level in thousandths of a decibel
/// from 0 to -140 dB (what list files hold) is raised to an amplitude once and looked up
/// after, giving the same double. Memory is taken only as levels come.
class LevelTable {
 public:
  LevelTable();
  /// The same as db2amp(db).
  double amp(double db) {
    const double k = db * -1000.0;
    if (k >= 0.0 && k <= kEntries - 1) {
      const auto i = static_cast<std::size_t>(k + 0.5);
      // Entry i holds the amplitude of the level -i/1000 dB exactly (the double nearest to
      // it, as a list file's "-i/1000" reads), or 0 until that level first comes.
      if (db == static_cast<double>(i) / -1000.0) {
        double& a = table_.get()[i];
        if (a == 0.0) a = db2amp(db);  // no level gives an amplitude of 0
        return a;
      }
    }
    return db2amp(db);
  }

 private:
  static constexpr int kEntries = 140001;
  struct Free {
    void operator()(double* p) const;
  };
  std::unique_ptr<double[], Free> table_;
};

/// A frequency as the partial list holds it: within [kMinFreq, kMaxFreq] (a NaN passes unchanged).
inline double held_frequency(double f) { return f < kMinFreq ? kMinFreq : f > kMaxFreq ? kMaxFreq : f; }

/// A frequency as the other formats hold it: at least kMinFreq, since analysers write
/// frequencies near zero and below at a partial's weak edges, and without an upper bound, since
/// analyses of recordings at higher rates hold partials above 22050 Hz.
inline double held_low_frequency(double f) { return f < kMinFreq ? kMinFreq : f; }

/// Adds a breakpoint to a partial, as read (its time checked by the reader: see follows).
inline void add_breakpoint(Partial& part, double time, double freq, double amp) {
  part.time.push_back(time);
  part.freq.push_back(freq);
  part.amp.push_back(amp);
}

/// True when `time` may follow the partial's last breakpoint: times rise strictly.
inline bool follows(const Partial& part, double time) { return part.time.empty() || time > part.time.back(); }

}  // namespace zarn

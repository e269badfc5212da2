// The partials a sound is made of, as the sound takes them: what it needs of each one at once
// (its number of points and its first time), and the partial itself only when it starts to
// sound, let go when it ends. They come from a set held whole, or from a spool on disk that a
// run fills as it fits each partial, so that its sound takes memory for the partials sounding
// at once, however many there are in all.
#pragma once

#include <cstdint>
#include <limits>
#include <map>
#include <vector>

#include "io/spool.hpp"
#include "model/partials.hpp"

namespace zarn {

/// The partials of a sound, in the set's order.
class VoiceSource {
 public:
  virtual ~VoiceSource() = default;
  /// How many partials.
  virtual std::size_t count() const = 0;
  /// The p-th partial's number of grid points, and its first grid time (where it has one).
  virtual int points(std::size_t p) const = 0;
  virtual double first_time(std::size_t p) const = 0;
  /// The p-th partial, held until release(p).
  virtual const Resampled& fetch(std::size_t p) = 0;
  virtual void release(std::size_t p) = 0;
  /// The grid's step.
  virtual double step() const = 0;
  /// The noise beside the partials.
  virtual const Noise& noise() const = 0;
  /// The last grid time of any partial; -infinity where none has a point.
  virtual double last_time() const = 0;
  /// The seconds of the sound analysed, which the sound lasts; 0 where there was none.
  virtual double length() const = 0;
};

/// The partials of a set held whole, taken where they lie.
class SetVoices final : public VoiceSource {
 public:
  explicit SetVoices(const ResampledSet& set) : set_(set) {}
  std::size_t count() const override { return set_.partials.size(); }
  int points(std::size_t p) const override { return set_.partials[p].N(); }
  double first_time(std::size_t p) const override { return set_.partials[p].time.front(); }
  const Resampled& fetch(std::size_t p) override { return set_.partials[p]; }
  void release(std::size_t) override {}
  double step() const override { return set_.step; }
  const Noise& noise() const override { return set_.noise; }
  double last_time() const override;
  double length() const override { return set_.length; }

 private:
  const ResampledSet& set_;
};

/// True for a partial (of two points or more) that reaches half the sample rate `rate` or above
/// somewhere, where the sound leaves it out.
bool reaches_half_rate(const Resampled& part, int rate);

/// Partials set aside in a spool as a run fits them, one at a time, and read back as the
/// sound starts each one: memory holds an entry of a few numbers for each partial and the
/// partials sounding.
class SpooledVoices final : public VoiceSource {
 public:
  /// For partials on a grid of `step`.
  explicit SpooledVoices(double step) : step_(step) {}
  /// The noise and the length of the input the partials came from, and the rate of the sound
  /// (set before the first partial is added).
  void set_input(const Noise& noise, double length, int rate) {
    noise_ = noise;
    length_ = length;
    rate_ = rate;
  }
  /// Sets the next partial aside. Throws Failure where the spool cannot be written.
  void add(const Resampled& part);
  /// How many partials (of two points or more) reach half the rate or above somewhere.
  int at_half_rate() const { return at_half_rate_; }

  std::size_t count() const override { return entries_.size(); }
  int points(std::size_t p) const override { return entries_[p].points; }
  double first_time(std::size_t p) const override { return entries_[p].first; }
  const Resampled& fetch(std::size_t p) override;
  void release(std::size_t p) override { fetched_.erase(p); }
  double step() const override { return step_; }
  const Noise& noise() const override { return noise_; }
  double last_time() const override { return last_; }
  double length() const override { return length_; }

 private:
  struct Entry {
    std::uint64_t at;  // of its times, then its frequencies, its amplitudes and its phases, in the spool
    int points;
    double first;
    bool phased;  // its phases follow its amplitudes
  };
  // Writes the points held back to the spool.
  void flush();
  // Points are written to the spool in blocks of this many, and each partial read back whole
  // at once: a few system calls for many partials.
  static constexpr std::size_t kBlock = std::size_t{1} << 17;

  double step_;
  int rate_ = 0;
  std::vector<Entry> entries_;
  Spool spool_;
  std::vector<double> pending_;  // points not yet in the spool, from entry `spooled_` on
  std::uint64_t written_ = 0;    // doubles in the spool
  std::vector<double> read_;     // a partial's points as read back
  std::map<std::size_t, Resampled> fetched_;  // the partials sounding
  Noise noise_;
  double length_ = 0;
  double last_ = -std::numeric_limits<double>::infinity();
  int at_half_rate_ = 0;
};

}  // namespace zarn

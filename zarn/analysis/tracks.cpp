#include "analysis/tracks.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

namespace zarn {

namespace {

// Frames a track may miss and still go on, predicted along its slope meanwhile.
constexpr int kMaxGap = 2;
// Breakpoints back to the one that a track's slope is taken from.
constexpr std::size_t kSlopeSpan = 3;
// How far a peak may lie from a track's predicted frequency: half the resolution, or this
// share of the frequency where that is more.
constexpr double kRelativeTolerance = 0.01;

void append(Track& t, double time, const Peak& peak) {
  add_breakpoint(t.part, time, peak.freq, peak.amp);
  t.offsets.push_back(peak.offset);
}

}  // namespace

double Track::predicted(long j, double hop_seconds) const {
  const std::size_t n = part.freq.size();
  if (n < 2) return part.freq.back();
  const std::size_t back = std::min<std::size_t>(n - 1, kSlopeSpan);
  const double slope = (part.freq[n - 1] - part.freq[n - 1 - back]) / (part.time[n - 1] - part.time[n - 1 - back]);
  return part.freq[n - 1] + slope * static_cast<double>(j - last_frame) * hop_seconds;
}

Tracker::Tracker(double resolution, double hop_seconds, std::function<void(Track&)> ended)
    : resolution_(resolution), hop_seconds_(hop_seconds), ended_(std::move(ended)) {}

void Tracker::take(long frame, double time, const std::vector<Peak>& peaks) {
  // Every (track, peak) pair within the tolerance of the track's prediction, nearest first.
  struct Pair {
    double distance;
    std::size_t track, peak;
  };
  std::vector<Pair> pairs;
  for (std::size_t t = 0; t < tracks_.size(); ++t) {
    const double f = tracks_[t].predicted(frame, hop_seconds_);
    const double tolerance = std::max(0.5 * resolution_, kRelativeTolerance * f);
    for (std::size_t p = 0; p < peaks.size(); ++p) {
      const double d = std::fabs(peaks[p].freq - f);
      if (d <= tolerance) pairs.push_back({d, t, p});
    }
  }
  std::sort(pairs.begin(), pairs.end(), [](const Pair& a, const Pair& b) { return a.distance < b.distance; });
  std::vector<char> track_taken(tracks_.size(), 0), peak_taken(peaks.size(), 0);
  for (const Pair& pr : pairs) {
    if (track_taken[pr.track] || peak_taken[pr.peak]) continue;
    track_taken[pr.track] = peak_taken[pr.peak] = 1;
    Track& t = tracks_[pr.track];
    append(t, time, peaks[pr.peak]);
    t.last_frame = frame;
    t.missed = 0;
  }
  // Tracks that found nothing miss a frame; those that missed too many end.
  std::size_t kept = 0;
  for (std::size_t t = 0; t < tracks_.size(); ++t) {
    if (!track_taken[t] && ++tracks_[t].missed > kMaxGap) {
      ended_(tracks_[t]);
      continue;
    }
    if (kept != t) tracks_[kept] = std::move(tracks_[t]);
    ++kept;
  }
  tracks_.resize(kept);
  for (std::size_t p = 0; p < peaks.size(); ++p) {
    if (peak_taken[p]) continue;
    Track t;
    append(t, time, peaks[p]);
    t.last_frame = frame;
    tracks_.push_back(std::move(t));
  }
}

void Tracker::end_all() {
  for (Track& t : tracks_) ended_(t);
  tracks_.clear();
}

}  // namespace zarn

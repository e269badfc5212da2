#include "analysis/tracks.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

namespace zarn {

namespace {

// Frames a track may miss and still go on, predicted along its slope meanwhile; a track
// seen in many frames (one a frame) coasts through a longer dropout.
constexpr int kMaxGap = 2;
constexpr int kMaxCoast = 4;
constexpr std::size_t kCoastAfter = 8;
// Breakpoints back to the one that a track's slope is taken from.
constexpr std::size_t kSlopeSpan = 3;
// How far a peak may lie from a track's predicted frequency: half the resolution, or this
// share of the frequency where that is more.
constexpr double kRelativeTolerance = 0.01;
// A track's tolerance is at least this many times its recent bending, but never more than
// this share of its frequency (about 50 cents): a bend wider than that between two frames is
// no partial's own motion but a peak of another partial, which the track must not take.
constexpr double kMotion = 2.0;
constexpr double kMostBend = 0.06;
// A track steps from frame to frame by this share of its frequency at most (about 130 cents)
// where half the resolution is more: low partials lie closer together in hertz than the
// resolution, yet a kick drum's partials fall 7 or 8 % a frame and speech's fundamental as
// fast. (At 12 % a fading low partial wandered an octave through the noise.)
constexpr double kMostStep = 0.08;
// Across missed frames a track takes a peak only as loud as it was, within these ratios of
// amplitude (+6 dB, -20 dB): a louder one is a new note's partial where the old one died
// away, a much quieter one a neighbour's remains.
constexpr double kMostRise = 2.0, kMostFall = 0.1;

void append(Track& t, double time, const Peak& peak) {
  add_breakpoint(t.part, time, peak.freq, peak.amp);
  t.part.phase.push_back(peak.phase);
  t.offsets.push_back(peak.offset);
  t.ratios.push_back(peak.ratio);
  t.chirp = peak.chirp * peak.ratio;
}

}  // namespace

double Track::predicted(long j, double hop_seconds, std::size_t span) const {
  const std::size_t n = part.freq.size();
  if (n < 2) return part.freq.back() + chirp * static_cast<double>(j - last_frame) * hop_seconds;
  const std::size_t back = std::min<std::size_t>(n - 1, span);
  const double slope = (part.freq[n - 1] - part.freq[n - 1 - back]) / (part.time[n - 1] - part.time[n - 1 - back]);
  return part.freq[n - 1] + slope * static_cast<double>(j - last_frame) * hop_seconds;
}

double Track::bending(std::size_t span) const {
  // The largest second difference of the last few breakpoints, a hop apart or not.
  const std::size_t n = part.freq.size();
  double most = 0;
  for (std::size_t i = n >= span + 2 ? n - span : 2; i < n; ++i)
    most = std::max(most, std::fabs(part.freq[i] - 2 * part.freq[i - 1] + part.freq[i - 2]));
  return most;
}

namespace {

// `frames` hops of the rules, in hops of the frames (`per_rule` of them to one).
long in_frames(long frames, double per_rule) { return std::max(frames, std::lround(static_cast<double>(frames) * per_rule)); }

}  // namespace

Tracker::Tracker(double resolution, double hop_seconds, std::function<void(Track&)> ended, double rule_hop_seconds)
    : resolution_(resolution), hop_seconds_(hop_seconds), ended_(std::move(ended)) {
  const double per_rule = rule_hop_seconds > hop_seconds ? rule_hop_seconds / hop_seconds : 1.0;
  starting_offset_ = 0.25 * hop_seconds * per_rule;
  max_gap_ = in_frames(kMaxGap, per_rule);
  max_coast_ = in_frames(kMaxCoast, per_rule);
  coast_after_ = static_cast<std::size_t>(in_frames(static_cast<long>(kCoastAfter), per_rule));
  slope_span_ = static_cast<std::size_t>(in_frames(static_cast<long>(kSlopeSpan), per_rule));
}

double Tracker::tolerance(double freq) const {
  // Half the resolution, but never a step of more than about 130 cents: low partials lie
  // closer together in hertz than the resolution, and a track must not hop between them.
  return std::min(std::max(0.5 * resolution_, kRelativeTolerance * freq), kMostStep * freq);
}

namespace {

// The edge nearest `freq` within `tolerance` on the side `onset` says (energy after the
// frame's centre, or before it), not yet taken; -1 where there is none. A partial that glides
// by `chirp` hertz a second from `freq` at `at` seconds from the edges' frame's centre is
// expected where its line passes each edge's energy's centre.
long nearest_edge(const std::vector<Peak>& edges, const std::vector<char>& taken, double freq, double tolerance, bool onset, double chirp = 0, double at = 0) {
  long best = -1;
  double best_d = tolerance;
  for (std::size_t e = 0; e < edges.size(); ++e) {
    const double d = std::fabs(edges[e].freq - (freq + chirp * (edges[e].offset - at)));
    if (taken[e] || (edges[e].offset > 0) != onset || d > best_d) continue;
    best = static_cast<long>(e), best_d = d;
  }
  return best;
}

}  // namespace

void Tracker::take(long frame, double time, const std::vector<Peak>& peaks, const std::vector<Peak>& edges) {
  // Every (track, peak) pair within the tolerance of the track's prediction, nearest first.
  struct Pair {
    double distance;
    std::size_t track, peak;
  };
  std::vector<Pair> pairs;
  for (std::size_t t = 0; t < tracks_.size(); ++t) {
    const double f = tracks_[t].predicted(frame, hop_seconds_, slope_span_);
    // The tolerance widens with the track's own bending (how far its slope missed lately),
    // within a bound: neither a coast through missed frames nor one wild breakpoint lets a
    // track reach across to another partial.
    // A track seen once, in a frame whose window saw it start (its energy's centre a quarter
    // of the window's hop or more after the frame's, as the finish tells an edge), measured
    // its partial where it was least settled: a struck partial's pitch falls fastest there (a
    // kick drum's by 9 % in a frame). It reaches twice as far.
    const double reach = tracks_[t].part.time.size() == 1 && tracks_[t].offsets.back() > starting_offset_ ? 2.0 : 1.0;
    const double within = std::max(reach * tolerance(f), std::min(kMotion * tracks_[t].bending(slope_span_) * static_cast<double>(frame - tracks_[t].last_frame), kMostBend * f));
    const bool gap = frame - tracks_[t].last_frame > 1;
    const double last_amp = tracks_[t].part.amp.back();
    const std::size_t n = tracks_[t].part.amp.size();
    const bool rising = n >= 2 && last_amp > tracks_[t].part.amp[n - 2];
    const double since = static_cast<double>(frame - tracks_[t].last_frame) * hop_seconds_;
    for (std::size_t p = 0; p < peaks.size(); ++p) {
      // A peak that shows its glide reaches back along it as well: a partial whose first
      // breakpoints saw it start (their slope too shallow) is still followed.
      double d = std::fabs(peaks[p].freq - f);
      if (peaks[p].chirp != 0) d = std::min(d, std::fabs(peaks[p].freq - peaks[p].chirp * peaks[p].ratio * since - tracks_[t].part.freq.back()));
      // A frame warped by the fundamental holds its harmonics still: there a track's own
      // bending widens its reach to twice its tolerance at most, so that it cannot wander
      // from harmonic to harmonic where they lie closer than its bending (high up, as they
      // fade: a violin's partial went from 4.5 to 10 kHz through a note's release).
      if (d > (peaks[p].ratio != 1.0 ? std::min(within, 2 * tolerance(f)) : within)) continue;
      if (gap && !(peaks[p].amp <= kMostRise * last_amp && peaks[p].amp >= kMostFall * last_amp)) continue;
      // Nor does a track that held or died away take a peak twice as loud whose energy lies
      // late in the window: that is its partial struck again (a harp's string, a drum), which
      // starts anew where the window saw it start; followed on, the rise was drawn across the
      // hop before the hit (a harp's 11 ms early, a drum's 10 ms late).
      if (peaks[p].offset > 2 * starting_offset_ && peaks[p].amp > kMostRise * last_amp && !rising) continue;
      pairs.push_back({d, t, p});
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
  // Tracks that found nothing take an edge where they stop, if there is one, or miss a
  // frame; those that missed too many end.
  recent_.push_back({frame, time, edges, std::vector<char>(edges.size(), 0)});
  Edges& now = recent_.back();
  std::size_t kept = 0;
  for (std::size_t t = 0; t < tracks_.size(); ++t) {
    Track& track = tracks_[t];
    if (!track_taken[t]) {
      const double f = track.predicted(frame, hop_seconds_, slope_span_);
      const long e = nearest_edge(now.peaks, now.taken, f, tolerance(f), false);
      if (e >= 0 && !(track.offsets.back() < now.peaks[static_cast<std::size_t>(e)].offset)) {
        now.taken[static_cast<std::size_t>(e)] = 1;
        append(track, time, now.peaks[static_cast<std::size_t>(e)]);
        track.last_frame = frame;
      } else if (++track.missed > (track.part.time.size() >= coast_after_ ? max_coast_ : max_gap_)) {
        ended_(track);
        continue;
      }
    }
    if (kept != t) tracks_[kept] = std::move(track);
    ++kept;
  }
  tracks_.resize(kept);
  start_tracks(frame, time, peaks, peak_taken);
  // Edges older than a track may reach back are let go.
  recent_.erase(std::remove_if(recent_.begin(), recent_.end(), [this, frame](const Edges& r) { return r.frame <= frame - max_gap_; }), recent_.end());
}

// Peaks that no track took start tracks, each with the edges before it that lead up to it:
// near its frequency, each seeing less of the partial (its energy later in the window).
void Tracker::start_tracks(long frame, double time, const std::vector<Peak>& peaks, const std::vector<char>& peak_taken) {
  for (std::size_t p = 0; p < peaks.size(); ++p) {
    if (peak_taken[p]) continue;
    Track t;
    std::vector<std::pair<double, Peak>> before;
    double f = peaks[p].freq, offset = peaks[p].offset, later = time;
    const double chirp = peaks[p].chirp * peaks[p].ratio;
    for (long back = 1; back <= max_gap_; ++back) {
      Edges* earlier = nullptr;
      for (Edges& r : recent_)
        if (r.frame == frame - back) earlier = &r;
      if (earlier == nullptr) break;
      const long e = nearest_edge(earlier->peaks, earlier->taken, f, tolerance(f), true, chirp, later + offset - earlier->time);
      if (e < 0 || !(earlier->peaks[static_cast<std::size_t>(e)].offset > offset)) break;
      earlier->taken[static_cast<std::size_t>(e)] = 1;
      before.emplace_back(earlier->time, earlier->peaks[static_cast<std::size_t>(e)]);
      f = before.back().second.freq, offset = before.back().second.offset, later = earlier->time;
    }
    for (auto b = before.rbegin(); b != before.rend(); ++b) append(t, b->first, b->second);
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

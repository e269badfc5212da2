#include "analysis/finish.hpp"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "model/phase.hpp"

namespace zarn {

namespace {

// The least share of the window (by its sum) that must see a partial's start or end for the
// frame to place it.
constexpr double kLeastSeen = 0.1;
// A start seen by several frames in turn that says its partial was under this share of its
// steady level is left out where a later frame tells of it too: a note that swells in over tens
// of milliseconds is seen by the earlier frames as a faint partial starting far before, and the
// level drawn straight from there to the steady part's overstates the swell (a flute's
// spectral convergence went from 0.118 to 0.062 without them; at --hop=0.005 the alto sax's
// from 0.089 to 0.071). Stops are left as they are: the same rule there made the partials'
// ends abrupt enough to splatter below a sax's fundamental.
constexpr double kFaintEdge = 0.7;

// The most a partial's frequency may bend between two breakpoints to meet their phases, as a
// share of the frequency (see carry_phases).
constexpr double kMostBend = 0.1;

// Where a track's breakpoints see its partial whole: [first, last) are steady, those before
// and after are its edges.
struct Steady {
  std::size_t first, last;
  double off_centre;   // an energy's centre farther than this from the frame's marks an edge
  double half;         // the window's half length, in seconds (0 without the window)
  double least_apart;  // frames lie a hop apart, up to the rounding of their times
};

// Where a partial starts or stops, the window sees it only in part, and the centre of its
// energy lies off the frame's centre: those breakpoints, at either end of the track, are its
// edges.
Steady steady_of(const Track& t, const FinishOptions& o) {
  const Partial& p = t.part;
  Steady s{0, p.time.size(), 0.25 * std::max(o.hop_seconds, o.rule_hop), o.window != nullptr ? o.window->half_seconds() : 0.0, o.hop_seconds * (1 - 1e-9)};
  // A window that reaches past the sound's start or end sees any partial there cut off.
  const auto edge = [&](std::size_t j, bool start) {
    if (std::fabs(t.offsets[j]) > s.off_centre) return true;
    return o.window != nullptr && (start ? p.time[j] - s.half < 0 : p.time[j] + s.half > o.sound_end);
  };
  while (s.first < p.time.size() && edge(s.first, true)) ++s.first;
  while (s.last > s.first && edge(s.last - 1, false)) --s.last;
  return s;
}

// The reassigned frequency is the partial's at the centre of the energy seen, which lies
// `offset` from the frame's centre: carried back to the centre along the partial's slope.
// And a frequency that moves is seen through the window as its weighted mean, which misses
// its curvature by half the curvature times the window's spread: put that back. Slope and
// curvature come from each breakpoint's steady neighbours. The edges' frequencies, which the
// edge itself spoils, are carried on from the nearest steady breakpoints.
void correct_frequencies(Track& t, const FinishOptions& o, const Steady& s) {
  Partial& p = t.part;
  const std::vector<double> seen = p.freq;
  for (std::size_t j = s.first + 1; j + 1 < s.last; ++j) {
    if (std::fabs(t.offsets[j]) > s.off_centre) continue;  // a partial's edge within it: as at its ends
    const double h0 = p.time[j] - p.time[j - 1], h1 = p.time[j + 1] - p.time[j];
    const double s0 = (seen[j] - seen[j - 1]) / h0, s1 = (seen[j + 1] - seen[j]) / h1;
    const double slope = (s0 * h1 + s1 * h0) / (h0 + h1), curvature = 2 * (s1 - s0) / (h0 + h1);
    p.freq[j] = seen[j] - slope * t.offsets[j] - 0.5 * o.spread * curvature;
  }
  if (s.first + 2 <= s.last) {
    const auto carry = [&](std::size_t from, std::size_t other, std::size_t j) {
      const double slope = (p.freq[other] - p.freq[from]) / (p.time[other] - p.time[from]);
      p.freq[j] = p.freq[from] + slope * (p.time[j] + t.offsets[j] - p.time[from]);
    };
    for (std::size_t j = 0; j < s.first; ++j) carry(s.first, s.first + 1, j);
    for (std::size_t j = s.last; j < p.time.size(); ++j) carry(s.last - 1, s.last - 2, j);
  }
}

// The breakpoints kept, the edges moved where the partial starts or stops, or (without the
// window to tell) to the centre of the energy seen where that keeps the times rising, and
// left out where it does not.
Partial place_edges(Track& t, const FinishOptions& o, const Steady& s) {
  Partial& p = t.part;
  Partial kept;
  bool kept_stop = false;  // the last breakpoint kept is a stop
  for (std::size_t j = 0; j < p.time.size(); ++j) {
    double time = p.time[j];
    bool stop_edge = false;
    if (o.window != nullptr && j < s.first && t.offsets[j] > 0 && s.first < p.time.size()) {
      // Before the partial is seen whole: it starts where a sinusoid that begins in the window
      // has its transform's centre of gravity at the offset, as loud as the share of the
      // window that saw it says, never louder than where it is first seen whole, and never
      // before the sound. A frame that saw too little of it to tell is left out.
      const double onset = o.window->onset(t.offsets[j]), share = o.window->seen_after(onset);
      if (share < kLeastSeen) continue;
      if (j + 1 < s.first && p.amp[j] / share < kFaintEdge * p.amp[s.first]) continue;
      time = std::max(0.0, time + onset);
      p.amp[j] = std::min(p.amp[j] / share, p.amp[s.first]);
    } else if (o.window != nullptr && j >= s.last && t.offsets[j] < 0 && s.last > s.first) {
      // After it: it stops where the window saw it stop, the window being symmetric, but
      // never after the sound.
      const double stop = -o.window->onset(-t.offsets[j]), share = o.window->seen_after(-stop);
      if (share < kLeastSeen) continue;
      time = std::min(time + stop, o.sound_end);
      p.amp[j] = std::min(p.amp[j] / share, p.amp[s.last - 1]);
      stop_edge = true;
    } else if ((j < s.first || j >= s.last) && std::fabs(t.offsets[j]) > s.off_centre) {
      time += t.offsets[j];  // an edge without the window to tell: at its energy's centre
      stop_edge = j >= s.last;
    }
    // No two breakpoints closer than the hop: a step in so short a time is no partial's own.
    // An edge within a hop of the breakpoint before it tells of the same start again and is
    // left out; a stop takes the place of the breakpoint before it, which saw the partial
    // stop only in part (unless that is the start, or a stop itself). A breakpoint within the
    // track, whatever its energy's centre, stays at its frame's.
    if (!kept.time.empty() && !(time - kept.time.back() >= s.least_apart)) {
      if (!stop_edge || kept.time.size() < 2 || kept_stop) continue;
      kept.time.pop_back(), kept.freq.pop_back(), kept.amp.pop_back();
      if (!(time - kept.time.back() >= s.least_apart)) continue;
    }
    const bool next_steady = j + 1 >= s.first && j + 1 < s.last && std::fabs(t.offsets[j + 1]) <= s.off_centre;
    if (next_steady && !(time < p.time[j + 1])) continue;
    // A frequency carried or corrected below the lowest a partial may have is left out.
    if (!(p.freq[j] >= kMinFreq)) continue;
    add_breakpoint(kept, time, p.freq[j], p.amp[j]);
    kept_stop = stop_edge;
  }
  return kept;
}

// A partial seen whole in a window that reaches to the sound's start (or end) sounded there:
// the frames before it, which saw it cut off by the sound's edge among its neighbours, could
// not tell it apart. A breakpoint within a hop of the sound's edge is moved there rather than
// joined by one.
void reach_sound_edges(const Partial& p, const FinishOptions& o, const Steady& s, Partial& kept) {
  if (o.window == nullptr) return;
  if (s.first == 0 && kept.time.front() > 0 && p.time.front() - s.half <= 0) {
    if (kept.time.front() < s.least_apart) {
      kept.time.front() = 0.0;
    } else {
      kept.time.insert(kept.time.begin(), 0.0);
      kept.freq.insert(kept.freq.begin(), kept.freq.front());
      kept.amp.insert(kept.amp.begin(), kept.amp.front());
    }
  }
  if (s.last == p.time.size() && kept.time.back() < o.sound_end && p.time.back() + s.half >= o.sound_end) {
    if (o.sound_end - kept.time.back() < s.least_apart)
      kept.time.back() = o.sound_end;
    else
      add_breakpoint(kept, o.sound_end, kept.freq.back(), kept.amp.back());
  }
}

// The phase of each breakpoint kept. Where the window saw the partial whole, the phase measured
// at the nearest frame's centre, carried at its frequency to the breakpoint's time. An edge's
// frame saw it only in part, and its phase there is unsure: the edges take the phase that
// their frequencies, going linearly, lead to from the nearest breakpoint seen whole, so that
// no unsure phase bends the frequency between them.
void carry_phases(Partial& frames, const Track& t, const FinishOptions& o, const Steady& s, Partial& kept) {
  if (frames.phase.size() != frames.time.size() || frames.time.empty() || kept.time.empty()) return;
  // A partial that glides through a plain window turns its peak's phase by pi times its rate
  // times the window's second moment: taken back, at the rate its frequencies show. (A warped
  // frame holds it still.)
  const std::size_t F = frames.time.size();
  if (o.window != nullptr && F >= 2)
    for (std::size_t j = 0; j < F; ++j) {
      if (j < t.ratios.size() && t.ratios[j] != 1.0) continue;
      const std::size_t a = j > 0 ? j - 1 : 0, b = j + 1 < F ? j + 1 : F - 1;
      const double rate = (frames.freq[b] - frames.freq[a]) / (frames.time[b] - frames.time[a]);
      frames.phase[j] = wrap_phase(frames.phase[j] - kPi * rate * o.window->bend());
    }
  const std::size_t K = kept.time.size();
  kept.phase.resize(K);
  const bool any_steady = s.first < s.last;
  const double from = any_steady ? frames.time[s.first] : 0, to = any_steady ? frames.time[s.last - 1] : -1;
  std::size_t j = 0, first_whole = K, last_whole = K;
  for (std::size_t i = 0; i < K; ++i) {
    const double at = kept.time[i];
    while (j + 1 < frames.time.size() && std::fabs(frames.time[j + 1] - at) <= std::fabs(frames.time[j] - at)) ++j;
    kept.phase[i] = wrap_phase(frames.phase[j] + kTwoPi * frames.freq[j] * (at - frames.time[j]));
    if (at >= from && at <= to) {
      if (first_whole == K) first_whole = i;
      last_whole = i;
    }
  }
  if (first_whole == K) return;  // no breakpoint seen whole: each keeps its own
  for (std::size_t i = first_whole; i-- > 0;)
    kept.phase[i] = next_phase(kept.phase[i + 1], kept.time[i + 1], kept.freq[i + 1], kept.time[i], kept.freq[i]);
  for (std::size_t i = last_whole + 1; i < K; ++i)
    kept.phase[i] = next_phase(kept.phase[i - 1], kept.time[i - 1], kept.freq[i - 1], kept.time[i], kept.freq[i]);
  // The cubic between two breakpoints bends the frequency by up to 3/(4 pi) of the phase it
  // must make up over the time between them. A bend beyond a tenth of the partial's frequency
  // is no partial's own (a low partial whose phase the window could not tell): there the phase
  // goes on as the frequencies lead it.
  for (std::size_t i = 1; i < K; ++i) {
    const double h = kept.time[i] - kept.time[i - 1];
    const double led = next_phase(kept.phase[i - 1], kept.time[i - 1], kept.freq[i - 1], kept.time[i], kept.freq[i]);
    const double bend = 3 / (2 * kTwoPi) * std::fabs(wrap_phase(kept.phase[i] - led)) / h;
    if (bend > kMostBend * std::min(kept.freq[i - 1], kept.freq[i])) kept.phase[i] = led;
  }
}

}  // namespace

bool finish_track(Track& t, const FinishOptions& o, Partial& out) {
  // By default a partial must be seen in three frames (of the rules' hop); --min-track bounds
  // the duration of the partial as written, checked again below once its edges are placed.
  const double min_track = o.min_track > 0 ? o.min_track : 3 * std::max(o.hop_seconds, o.rule_hop);
  if (t.part.time.back() - t.part.time.front() + o.hop_seconds < min_track) return false;
  const Steady s = steady_of(t, o);
  correct_frequencies(t, o, s);
  // Frequencies measured in a frame's warped time, now corrected there, in the sound's (a
  // track without ratios was never warped).
  for (std::size_t j = 0; j < t.ratios.size(); ++j) t.part.freq[j] *= t.ratios[j];
  Partial kept = place_edges(t, o, s);
  if (kept.time.empty()) return false;
  reach_sound_edges(t.part, o, s, kept);
  if (o.min_track > 0 && kept.time.back() - kept.time.front() < o.min_track) return false;
  Partial& p = t.part;
  carry_phases(p, t, o, s, kept);
  p.time = std::move(kept.time);
  p.freq = std::move(kept.freq);
  p.amp = std::move(kept.amp);
  p.phase = std::move(kept.phase);
  p.place = p.time.front();
  out = std::move(p);
  return true;
}

}  // namespace zarn

#include "analysis/finish.hpp"

#include <cmath>
#include <utility>
#include <vector>

namespace zarn {

bool finish_track(Track& t, const FinishOptions& o, Partial& out) {
  // By default a partial must be seen in three frames; --min-track bounds the duration of
  // the partial as written, checked again below once its edges are placed.
  const double min_track = o.min_track > 0 ? o.min_track : 3 * o.hop_seconds;
  if (t.part.time.back() - t.part.time.front() + o.hop_seconds < min_track) return false;
  Partial& p = t.part;
  // The reassigned frequency is the partial's at the centre of the energy seen, which lies
  // `offset` from the frame's centre: carried back to the centre along the partial's slope.
  // And a frequency that moves is seen through the window as its weighted mean, which misses
  // its curvature by half the curvature times the window's spread: put that back. Slope and
  // curvature come from each breakpoint's neighbours.
  const double off_centre = 0.25 * o.hop_seconds;
  const std::vector<double> seen = p.freq;
  for (std::size_t j = 1; j + 1 < p.time.size(); ++j) {
    if (std::fabs(t.offsets[j]) > off_centre) continue;  // a partial's edge: see below
    const double h0 = p.time[j] - p.time[j - 1], h1 = p.time[j + 1] - p.time[j];
    const double s0 = (seen[j] - seen[j - 1]) / h0, s1 = (seen[j + 1] - seen[j]) / h1;
    const double slope = (s0 * h1 + s1 * h0) / (h0 + h1), curvature = 2 * (s1 - s0) / (h0 + h1);
    p.freq[j] = seen[j] - slope * t.offsets[j] - 0.5 * o.spread * curvature;
  }
  // Where a partial starts or stops, the window sees it only in part, and the centre of its
  // energy lies well off the frame's centre: such breakpoints go there, where that keeps the
  // times rising, and are left out where it does not. Their frequencies, which the edge
  // itself spoils, are carried on from the nearest steady breakpoints.
  std::size_t first_steady = 0, last_steady = p.time.size();
  while (first_steady < p.time.size() && std::fabs(t.offsets[first_steady]) > off_centre) ++first_steady;
  while (last_steady > 0 && std::fabs(t.offsets[last_steady - 1]) > off_centre) --last_steady;
  if (first_steady + 2 <= last_steady) {
    const auto carry = [&](std::size_t from, std::size_t other, std::size_t j) {
      const double slope = (p.freq[other] - p.freq[from]) / (p.time[other] - p.time[from]);
      p.freq[j] = p.freq[from] + slope * (p.time[j] + t.offsets[j] - p.time[from]);
    };
    for (std::size_t j = 0; j < first_steady; ++j) carry(first_steady, first_steady + 1, j);
    for (std::size_t j = last_steady; j < p.time.size(); ++j) carry(last_steady - 1, last_steady - 2, j);
  }
  Partial kept;
  for (std::size_t j = 0; j < p.time.size(); ++j) {
    double time = p.time[j];
    if (std::fabs(t.offsets[j]) > off_centre) time += t.offsets[j];
    if (!kept.time.empty() && !(time > kept.time.back())) continue;
    if (j + 1 < p.time.size() && std::fabs(t.offsets[j + 1]) <= off_centre && !(time < p.time[j + 1])) continue;
    // A frequency carried or corrected below the lowest a partial may have is left out.
    if (!(p.freq[j] >= kMinFreq)) continue;
    add_breakpoint(kept, time, p.freq[j], p.amp[j]);
  }
  if (kept.time.empty()) return false;
  if (o.min_track > 0 && kept.time.back() - kept.time.front() < o.min_track) return false;
  p.time = std::move(kept.time);
  p.freq = std::move(kept.freq);
  p.amp = std::move(kept.amp);
  p.place = p.time.front();
  out = std::move(p);
  return true;
}

}  // namespace zarn

#include "edit/shape.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "model/failure.hpp"
#include "model/memory.hpp"

namespace zarn {

namespace {

// Where the last partial or the noise ends.
double end_of(const PartialSet& set) {
  double end = set.noise.empty() ? 0 : set.noise.times.back();
  for (const Partial& part : set.partials)
    if (part.M() > 0) end = std::max(end, part.time.back());
  return end;
}

}  // namespace

namespace detail {

// The ticks at which the power is weighed: those within kReach of a breakpoint of a partial,
// a frame of the noise, the noise's ends (where it falls to nothing) or the ends of the sound,
// as rising indices. An attack lies within reach of the breakpoints that draw it; far from
// every breakpoint the power only moves slowly between them, so that the work and memory
// follow the breakpoints, not the time they span.
std::vector<std::size_t> ticks_weighed(const PartialSet& set, double tick, std::size_t count) {
  constexpr double kReach = kLongestAttack + 0.05;
  // The stretches within reach of a run of times, one a run whose gaps the reach bridges: a
  // partial of breakpoints a hop apart is one stretch, however many it has.
  std::vector<std::pair<double, double>> within;
  const auto runs = [&](const std::vector<double>& times) {
    for (std::size_t k = 0; k < times.size();) {
      std::size_t last = k;
      while (last + 1 < times.size() && times[last + 1] - times[last] <= 2 * kReach) ++last;
      within.emplace_back(times[k] - kReach, times[last] + kReach);
      k = last + 1;
    }
  };
  for (const Partial& part : set.partials) runs(part.time);
  runs(set.noise.times);
  std::vector<double> ends = {0.0, static_cast<double>(count - 1) * tick};
  if (set.noise.times.size() > 1) {
    const double front = set.noise.times.front(), back = set.noise.times.back();
    const double spacing = (back - front) / static_cast<double>(set.noise.times.size() - 1);
    ends.push_back(front - spacing / 2), ends.push_back(back + spacing / 2);
  }
  for (double t : ends) within.emplace_back(t - kReach, t + kReach);
  std::sort(within.begin(), within.end());
  std::vector<std::size_t> ticks;
  const MemoryCheck memory;
  double covered = -1;  // the last tick taken
  for (const auto& [lo, hi] : within) {
    if (!std::isfinite(lo) || !std::isfinite(hi)) continue;
    const double from = std::max(std::max(std::ceil(lo / tick), 0.0), covered + 1);
    const double to = std::min(std::floor(hi / tick), static_cast<double>(count - 1));
    if (from > to) continue;
    memory.check(8.0 * (static_cast<double>(ticks.size()) + to - from + 1) * 2, "the onsets of the sound");
    for (double k = from; k <= to; ++k) ticks.push_back(static_cast<std::size_t>(k));
    covered = to;
  }
  return ticks;
}

std::vector<std::pair<double, double>> onsets(const PartialSet& set) {
  constexpr double kTick = 0.001;
  const double end = end_of(set);
  if (!(end > 0)) return {};
  // Ticks are counted in whole numbers that a double holds exactly.
  if (!(end / kTick < 4e15)) {
    char lasts[32];
    std::snprintf(lasts, sizeof lasts, "%.6g", end);
    throw failure("--keep-attacks: the sound lasts " + std::string(lasts) + " s, too long to find its attacks in");
  }
  const std::vector<std::size_t> tick = ticks_weighed(set, kTick, static_cast<std::size_t>(std::floor(end / kTick) + 1));
  // The power in all at every tick weighed: each partial's half its amplitude squared,
  // straight between breakpoints, and the noise's bands.
  std::vector<double> power(tick.size(), 0.0);
  for (const Partial& part : set.partials) {
    if (part.M() < 2) continue;
    std::size_t j = 0;
    const double first = std::max(std::ceil(part.time.front() / kTick), 0.0);
    auto i = static_cast<std::size_t>(std::lower_bound(tick.begin(), tick.end(), first, [](std::size_t k, double f) {
                                        return static_cast<double>(k) < f;
                                      }) - tick.begin());
    for (; i < tick.size(); ++i) {
      const double t = static_cast<double>(tick[i]) * kTick;
      if (t > part.time.back()) break;
      while (j + 2 < part.time.size() && part.time[j + 1] <= t) ++j;
      const double share = (t - part.time[j]) / (part.time[j + 1] - part.time[j]);
      const double a = part.amp[j] + share * (part.amp[j + 1] - part.amp[j]);
      if (std::isfinite(a)) power[i] += 0.5 * a * a;
    }
  }
  std::vector<double> bands(set.noise.bands());
  for (std::size_t i = 0; !set.noise.empty() && i < power.size(); ++i) {
    set.noise.at(static_cast<double>(tick[i]) * kTick, bands.data());
    for (double b : bands) power[i] += b;
  }
  for (double& p : power) p = 10 * std::log10(std::max(p, 1e-20));
  std::vector<std::pair<double, double>> found;
  const auto longest = static_cast<std::size_t>(kLongestAttack / kTick), pause = static_cast<std::size_t>(0.03 / kTick);
  for (std::size_t j = 0; j + 1 < power.size();) {
    if (!(power[j + 1] > power[j]) || tick[j + 1] != tick[j] + 1) {  // no climb across a stretch not weighed
      ++j;
      continue;
    }
    // The climb's top, however long it takes: until a dip of more than 1 dB, or 30 ms with
    // nothing louder (longer than an analysis's hop), or a stretch not weighed.
    std::size_t top = j + 1;
    for (std::size_t k = j + 1; k < power.size() && power[k] >= power[top] - 1 && tick[k] - tick[top] <= pause; ++k)
      if (power[k] > power[top]) top = k;
    // Of a longer climb, its first kLongestAttack: up to the loudest point within it.
    std::size_t peak = top;
    if (tick[top] - tick[j] > longest) {
      peak = j + 1;
      for (std::size_t k = j + 1; k < power.size() && tick[k] <= tick[j] + longest; ++k)
        if (power[k] > power[peak]) peak = k;
    }
    if (power[peak] - power[j] >= 6) found.emplace_back(static_cast<double>(tick[j]) * kTick, static_cast<double>(tick[peak]) * kTick);
    j = top;
  }
  return found;
}

}  // namespace detail

TimeMap time_map(const ShapeOptions& o, const PartialSet& set) {
  TimeMap map = !o.warp.empty() ? TimeMap::markers(o.warp) : !o.time_factor.empty() ? TimeMap::varying(o.time_factor) : TimeMap::scaled(o.time_number);
  for (const auto& [time, seconds] : o.freezes) map = map.held(time, seconds);
  if (!o.keep_attacks) return map;
  // Each onset at its own speed, every partial and the noise alike, so that an attack's parts
  // keep their times from each other; the time to the next onset takes up the difference.
  // The last onset catches up by the end of the sound analysed, where there is one, so that the
  // sound lasts exactly as long as the stretch makes it.
  const double end = set.samples > 0 && set.rate > 0 ? static_cast<double>(set.samples) / set.rate : end_of(set);
  const auto found = detail::onsets(set);
  for (std::size_t i = 0; i < found.size(); ++i) {
    const double until = i + 1 < found.size() ? found[i + 1].first : end;
    TimeMap own;
    if (map.with_rise(found[i].first, found[i].second, until, own)) map = std::move(own);
  }
  return map;
}

namespace {

double ratio_of(const Curve& cents, double u) { return cents.empty() ? 1.0 : std::pow(2.0, cents.at(u) / 1200.0); }
double factor_of(const Curve& db, double u, double per) { return db.empty() ? 1.0 : std::pow(10.0, db.at(u) / per); }

// The points of the run's grid over [first, last] as the plan lays them, and the two ends.
std::vector<double> points_over(const GridPlan& plan, std::size_t p, double first, double last, bool one) {
  std::vector<double> t;
  if (one) return {first};
  const int n = plan.points[p];
  t.reserve(static_cast<std::size_t>(n) + 2);
  if (plan.aligned) {
    if (n == 0 || static_cast<double>(plan.first_k[p]) * plan.step > first) t.push_back(first);
    for (int k = 0; k < n; ++k) t.push_back(static_cast<double>(plan.first_k[p] + k) * plan.step);
  } else {
    for (int k = 0; k < n; ++k) t.push_back(first + k * plan.step);
    if (t.empty()) t.push_back(first);
  }
  if (last > t.back()) t.push_back(last);
  return t;
}

// The partial made anew at output times `t`: each pulled back through `map` into its own span,
// fitted there, and changed by the curves.
void remake(Partial& part, const std::vector<double>& t, const TimeMap& map, const ShapeOptions& o, const PartialSet& set,
            const std::string& file) {
  const double start = part.time.front(), end = part.time.back();
  Resampled at;
  at.time.resize(t.size());
  double before = start;
  for (std::size_t j = 0; j < t.size(); ++j) {
    const double u = j == 0 ? start : j + 1 == t.size() && part.M() > 1 ? end : std::min(std::max(map.inverse(t[j]), before), end);
    at.time[j] = before = u;
  }
  if (part.M() > 1) {
    check_spacing(part, o.fit, set, file);
    fit_partial(o.fit, breakpoints_of(part), at);
  } else {
    at.freq = part.freq;
    at.amp = part.amp;
  }
  for (std::size_t j = 0; j < t.size(); ++j) {
    const double u = at.time[j];
    const double f = at.freq[j] * ratio_of(o.cents, u), a = at.amp[j] * factor_of(o.gain, u, 20);
    if (!std::isfinite(t[j]) || (std::isfinite(at.freq[j]) && !std::isfinite(f)) || (std::isfinite(at.amp[j]) && !std::isfinite(a)))
      throw failure_at(set, part, file, "after the changes over time a time, frequency or amplitude of this partial is not finite");
    if (at.freq[j] > 0 && !(f > 0))
      throw failure_at(set, part, file, "after the changes over time a frequency of this partial is 0 Hz, which no format holds");
    at.freq[j] = f;
    at.amp[j] = a;
  }
  part.time = t;
  part.freq = std::move(at.freq);
  part.amp = std::move(at.amp);
}

// The noise's frames changed by the curves at their input times, frames added where a curve
// turns or a hold begins, then moved through the map (a held frame twice: where the hold
// begins and where it ends).
void shape_noise(Noise& noise, const TimeMap& map, const ShapeOptions& o, const std::string& file) {
  if (noise.empty()) return;
  if (!(map.forward(noise.times.front()) >= 0)) throw Failure(compose(file + ": after --warp the noise would begin before 0 s"));
  const std::size_t bands = noise.bands();
  std::vector<double> extra;
  for (const Curve* c : {&o.gain, &o.noise_gain})
    for (double u : c->times)
      if (u > noise.times.front() && u < noise.times.back()) extra.push_back(u);
  for (const auto& [u, seconds] : o.freezes)
    if (u >= noise.times.front() && u <= noise.times.back()) extra.push_back(u);
  std::sort(extra.begin(), extra.end());
  check_memory(8.0 * static_cast<double>((noise.times.size() + extra.size() + o.freezes.size()) * (bands + 1)), "the noise");
  Noise out;
  out.edges = noise.edges;
  std::vector<double> power(bands);
  const auto add = [&](double u, const double* p) {
    const double g = factor_of(o.gain, u, 20), n = factor_of(o.noise_gain, u, 10);
    const double hold = map.hold_at(u), t = map.forward(u);
    for (int twice = 0; twice < (hold > 0 ? 2 : 1); ++twice) {
      if (!out.times.empty() && !(t + twice * hold > out.times.back())) continue;
      out.times.push_back(t + twice * hold);
      for (std::size_t b = 0; b < bands; ++b) {
        const double changed = p[b] * g * g * n;
        if (!std::isfinite(changed) && std::isfinite(p[b]))
          throw Failure(compose_at_time(file, u, "after --gain or --noise-gain the noise's power is not finite"));
        out.power.push_back(changed);
      }
    }
  };
  std::size_t e = 0;
  for (std::size_t j = 0; j < noise.times.size(); ++j) {
    for (; e < extra.size() && extra[e] <= noise.times[j]; ++e) {
      if (extra[e] == noise.times[j]) continue;
      noise.at(extra[e], power.data());
      add(extra[e], power.data());
    }
    add(noise.times[j], noise.frame(j));
  }
  noise = std::move(out);
}

}  // namespace

std::string freezes_past(const ShapeOptions& o, double end) {
  for (const auto& [time, seconds] : o.freezes)
    if (time > end) {
      char text[160];
      std::snprintf(text, sizeof text, "--freeze=%g:%g holds nothing: %g s lies past the input's end, at %g s", time, seconds, time, end);
      return text;
    }
  return {};
}

double input_end(const PartialSet& set) {
  const double sound = set.samples > 0 && set.rate > 0 ? static_cast<double>(set.samples - 1) / set.rate : 0.0;
  return std::max(end_of(set), sound);
}

void shape(PartialSet& set, const ShapeOptions& o, const std::string& file) {
  if (!o.any()) return;
  const TimeMap map = time_map(o, set);
  // Each partial's span in output time.
  PartialSet spans;  // named in messages as the partials are
  spans.places = set.places;
  spans.partials.resize(set.partials.size());
  for (std::size_t p = 0; p < set.partials.size(); ++p) {
    const Partial& part = set.partials[p];
    spans.partials[p].origin = part.origin;
    spans.partials[p].place = part.place;  // a grid refused names the partial where it was read
    if (part.M() == 0) continue;
    const double first = map.forward(part.time.front()), last = map.forward(part.time.back());
    if (!(first >= 0)) throw failure_at(set, part, file, "after --warp this partial would begin before 0 s");
    spans.partials[p].time = part.M() == 1 ? std::vector<double>{first} : std::vector<double>{first, last};
    spans.partials[p].freq = spans.partials[p].amp = std::vector<double>(spans.partials[p].time.size(), 0.0);
  }
  const GridPlan plan = plan_grid(spans, o.step, o.grid, file);
  for (std::size_t p = 0; p < set.partials.size(); ++p) {
    Partial& part = set.partials[p];
    if (part.M() == 0) continue;
    const std::vector<double>& span = spans.partials[p].time;
    const std::vector<double> t = points_over(plan, p, span.front(), span.back(), part.M() == 1);
    remake(part, t, map, o, set, file);
    phase_from_frequencies(part);  // laid anew in time: its phases follow its frequencies
  }
  shape_noise(set.noise, map, o, file);
  // A sound analysed lasts as long as the map makes it, so that its resynthesis is not cut.
  if (set.samples > 0 && set.rate > 0) set.samples = std::llround(map.forward(static_cast<double>(set.samples) / set.rate) * set.rate);
}

}  // namespace zarn

#include "model/partials.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <cstdint>
#include <cstdlib>
#include <new>

#include "model/phase.hpp"

namespace zarn {

Failure failure_at(const PartialSet& set, const Partial& part, const std::string& file, const std::string& what) {
  switch (set.places) {
    case PartialSet::Places::kBytes: return Failure(compose_at_byte(file, static_cast<std::uint64_t>(part.place), what));
    case PartialSet::Places::kSeconds: return Failure(compose_at_time(file, part.place, what));
    case PartialSet::Places::kLines: break;
  }
  return failure(file, static_cast<long>(part.place), what);
}

double db2amp(double db) {
  if (db < kFloorDb) db = kFloorDb;
  return std::pow(10.0, db / 20.0);
}

double amp2db(double amp) {
  if (amp > 0.0) return 20.0 * std::log10(amp);
  return kFloorDb;
}

// Zeroed pages from the system, so that only the entries used take memory.
LevelTable::LevelTable() : table_(static_cast<double*>(std::calloc(kEntries, sizeof(double)))) {
  if (!table_) throw std::bad_alloc();
}

void phase_from_frequencies(Partial& part) {
  if (part.phase.empty()) return;
  const double first = part.phase.front();
  part.phase.resize(part.time.size());
  if (part.time.empty()) return;
  part.phase[0] = first;
  for (std::size_t j = 1; j < part.time.size(); ++j)
    part.phase[j] = next_phase(part.phase[j - 1], part.time[j - 1], part.freq[j - 1], part.time[j], part.freq[j]);
}

double mean_frequency(const Partial& part) {
  double weighted = 0, weights = 0, plain = 0;
  for (std::size_t i = 0; i < part.time.size(); ++i) {
    weighted += part.amp[i] * part.freq[i];
    weights += part.amp[i];
    plain += part.freq[i];
  }
  if (weights == 0) return plain / static_cast<double>(part.time.size());
  return weighted / weights;
}

void LevelTable::Free::operator()(double* p) const { std::free(p); }

void check_partial_figures(const Resampled& part, std::size_t p, const FigureRule& rule) {
  const auto holds = [&](double v) { return rule.single_precision ? std::isfinite(static_cast<float>(v)) : std::isfinite(v); };
  for (std::size_t k = 0; k < part.time.size(); ++k) {
    // A level in decibels is finite for every amplitude but +inf where not-a-number is silence.
    const double amp = part.amp[k];
    const bool amp_ok = rule.nan_amp_is_silence ? amp < std::numeric_limits<double>::infinity() || std::isnan(amp) : holds(amp);
    const struct {
      const char* name;
      double value;
      bool ok;
    } figures[] = {{"time", part.time[k], holds(part.time[k])}, {"frequency", part.freq[k], holds(part.freq[k])}, {"amplitude", amp, amp_ok}};
    for (const auto& f : figures) {
      if (f.ok) continue;
      char figure[32], at[32];
      std::snprintf(figure, sizeof figure, "%.9g", f.value);
      std::snprintf(at, sizeof at, "%.9g", part.time[k]);
      throw failure("partial " + std::to_string(p + 1) + " has the " + f.name + " " + figure + " at time " + at + ", which " +
                    std::string(rule.format) + " cannot hold" +
                    (rule.single_precision ? " (its figures are single-precision numbers)" : "") + "; nothing saved");
    }
  }
}

void check_figures(const ResampledSet& set, const FigureRule& rule) {
  for (std::size_t p = 0; p < set.partials.size(); ++p) check_partial_figures(set.partials[p], p, rule);
}

Sounding::Sounding(const PartialSet& set) : set_(set) {
  for (std::size_t p = 0; p < set.partials.size(); ++p)
    if (!set.partials[p].time.empty()) order_.push_back(p);
  std::stable_sort(order_.begin(), order_.end(),
                   [&](std::size_t a, std::size_t b) { return set.partials[a].time.front() < set.partials[b].time.front(); });
}

const std::vector<Sounding::At>& Sounding::at(double time) {
  for (; next_ < order_.size() && set_.partials[order_[next_]].time.front() <= time; ++next_) sounding_.push_back({order_[next_], 0, 0.0});
  std::size_t kept = 0;
  for (At& s : sounding_) {
    const Partial& part = set_.partials[s.partial];
    if (part.time.back() < time) continue;  // over
    while (s.index + 1 < part.time.size() && part.time[s.index + 1] <= time) ++s.index;
    s.share = s.index + 1 < part.time.size() ? (time - part.time[s.index]) / (part.time[s.index + 1] - part.time[s.index]) : 0.0;
    sounding_[kept++] = s;
  }
  sounding_.resize(kept);
  return sounding_;
}

}  // namespace zarn

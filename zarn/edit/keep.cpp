#include "edit/keep.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

namespace zarn {

std::string band_problem(double lo, double hi) {
  if (!std::isfinite(lo) || !std::isfinite(hi)) return "the band's ends must be finite numbers";
  if (lo > hi) return "the band's low end lies above its high end";
  return {};
}

namespace detail {

double energy(const Partial& part) {
  double e = 0;
  for (std::size_t i = 0; i + 1 < part.time.size(); ++i) {
    const double a0 = part.amp[i], a1 = part.amp[i + 1];
    e += (a0 * a0 + a1 * a1) / 2 * (part.time[i + 1] - part.time[i]);
  }
  return e;
}

}  // namespace detail

namespace {

// True when the partial passes every filter but the count.
bool passes(const Partial& part, const KeepOptions& o) {
  if (part.time.empty()) return false;
  if (o.band_lo) {
    const double f = mean_frequency(part);
    if (!(f >= *o.band_lo && f <= *o.band_hi)) return false;
  }
  if (o.min_duration && !(part.time.back() - part.time.front() >= *o.min_duration)) return false;
  if (o.min_level && !(amp2db(*std::max_element(part.amp.begin(), part.amp.end())) >= *o.min_level)) return false;
  return true;
}

}  // namespace

void keep(PartialSet& set, const KeepOptions& options) {
  if (!options.any()) return;
  std::vector<std::size_t> kept;
  for (std::size_t p = 0; p < set.partials.size(); ++p)
    if (passes(set.partials[p], options)) kept.push_back(p);
  if (options.max_partials && kept.size() > static_cast<std::size_t>(*options.max_partials)) {
    // The greatest energies first, ties to the earlier partial; then back in their order.
    std::vector<double> energy(set.partials.size(), 0.0);
    for (std::size_t p : kept) energy[p] = detail::energy(set.partials[p]);
    std::stable_sort(kept.begin(), kept.end(), [&](std::size_t a, std::size_t b) { return energy[a] > energy[b]; });
    kept.resize(static_cast<std::size_t>(*options.max_partials));
    std::sort(kept.begin(), kept.end());
  }
  std::vector<Partial> partials;
  partials.reserve(kept.size());
  for (std::size_t p : kept) partials.push_back(std::move(set.partials[p]));
  set.partials = std::move(partials);
}

}  // namespace zarn

#include "analysis/residual.hpp"

#include <algorithm>
#include <cmath>

namespace zarn {

Residual::Residual(const FrameTransform& t, double rate, const std::vector<double>& edges)
    // Noise of mean square s gives each bin the power s times the window's energy, on average:
    // a band n bins wide holds the share 2 n / N of the noise's mean square, its mean bin power
    // times n times 2 / (N E).
    : to_power_(2.0 / (static_cast<double>(t.size()) * t.energy())) {
  const std::size_t K = t.size() / 2;
  const double per_hz = static_cast<double>(t.size()) / rate, top = 0.5 * rate;
  for (std::size_t e = 0; e < edges.size(); ++e) {
    // The first bin at or above the edge, at most one past the last bin; and the band's width
    // in bins, to half the rate.
    const double bin = std::ceil(edges[e] * per_hz);
    first_.push_back(static_cast<std::size_t>(std::min(bin, static_cast<double>(K + 1))));
    if (e + 1 < edges.size()) width_.push_back(std::max(0.0, std::min(edges[e + 1], top) - std::min(edges[e], top)) * per_hz);
  }
}

void Residual::measure(const PeakFinder& peaks, double* out) {
  const std::vector<double>& power = peaks.power();
  free_.assign(power.size(), 1);
  for (const auto& [lo, hi] : peaks.lobes()) std::fill(free_.begin() + static_cast<std::ptrdiff_t>(lo), free_.begin() + static_cast<std::ptrdiff_t>(hi) + 1, 0);
  for (std::size_t b = 0; b + 1 < first_.size(); ++b) {
    double sum = 0, all = 0;
    std::size_t n = 0;
    for (std::size_t k = first_[b]; k < first_[b + 1]; ++k) {
      all += power[k];
      if (!free_[k]) continue;
      sum += power[k];
      ++n;
    }
    // Never more than the band holds in all, partials and all: where a few bins between lobes
    // stand for many, their mean must not make a band louder than the sound is there.
    out[b] = n > 0 ? std::min(sum / static_cast<double>(n) * width_[b], all) * to_power_ : 0.0;
  }
}

}  // namespace zarn

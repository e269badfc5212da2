#include "model/noise.hpp"

#include <algorithm>

namespace zarn {

void Noise::at(double time, double* out) const {
  const std::size_t b = bands(), n = times.size();
  std::fill(out, out + b, 0.0);
  if (n == 0) return;
  // Beyond the frames, half a spacing more: a frame stands for the time around its centre.
  const double reach = n > 1 ? 0.5 * (times[1] - times[0]) : 0.0, last_reach = n > 1 ? 0.5 * (times[n - 1] - times[n - 2]) : 0.0;
  if (time <= times.front()) {
    if (time >= times.front() - reach) std::copy(frame(0), frame(0) + b, out);
    return;
  }
  if (time >= times.back()) {
    if (time <= times.back() + last_reach) std::copy(frame(n - 1), frame(n - 1) + b, out);
    return;
  }
  const std::size_t j = static_cast<std::size_t>(std::upper_bound(times.begin(), times.end(), time) - times.begin());
  const double u = (time - times[j - 1]) / (times[j] - times[j - 1]);
  const double *p = frame(j - 1), *q = frame(j);
  for (std::size_t k = 0; k < b; ++k) out[k] = p[k] + u * (q[k] - p[k]);
}

const std::vector<double>& critical_band_edges() {
  static const std::vector<double> edges = {0,    100,  200,  300,  400,  510,  630,  770,  920,  1080,  1270,  1480,  1720,
                                            2000, 2320, 2700, 3150, 3700, 4400, 5300, 6400, 7700, 9500, 12000, 15500, 20000};
  return edges;
}

std::vector<double> fine_band_edges() {
  static const std::vector<double> edges = [] {
    const std::vector<double>& coarse = critical_band_edges();
    std::vector<double> fine;
    for (std::size_t b = 0; b + 1 < coarse.size(); ++b) {
      const double width = coarse[b + 1] - coarse[b];
      const int parts = std::clamp(static_cast<int>(width / 200), 1, 4);
      for (int k = 0; k < parts; ++k) fine.push_back(coarse[b] + width * k / parts);
    }
    fine.push_back(coarse.back());
    return fine;
  }();
  return edges;
}

Noise on_edges(const Noise& noise, const std::vector<double>& edges) {
  Noise out;
  out.edges = edges;
  out.times = noise.times;
  const std::size_t B = noise.bands(), C = out.bands();
  out.power.assign(noise.times.size() * C, 0.0);
  for (std::size_t c = 0; c < C; ++c)
    for (std::size_t b = 0; b < B; ++b) {
      const double lo = std::max(edges[c], noise.edges[b]), hi = std::min(edges[c + 1], noise.edges[b + 1]);
      const double width = noise.edges[b + 1] - noise.edges[b];
      if (!(hi > lo) || !(width > 0)) continue;
      const double share = (hi - lo) / width;
      for (std::size_t j = 0; j < noise.times.size(); ++j) out.power[j * C + c] += share * noise.frame(j)[b];
    }
  return out;
}

void join_even_bands(Noise& noise) {
  const std::vector<double>& coarse = critical_band_edges();
  const std::size_t B = noise.bands();
  if (noise.empty() || noise.edges != fine_band_edges()) return;
  // Each part's power over the whole sound, for its width.
  std::vector<double> density(B, 0.0);
  for (std::size_t j = 0; j < noise.times.size(); ++j)
    for (std::size_t b = 0; b < B; ++b) density[b] += noise.frame(j)[b];
  for (std::size_t b = 0; b < B; ++b) density[b] /= noise.edges[b + 1] - noise.edges[b];
  std::vector<double> kept{noise.edges.front()};
  std::size_t b = 0;
  for (std::size_t c = 0; c + 1 < coarse.size(); ++c) {
    const std::size_t from = b;
    while (b < B && noise.edges[b + 1] <= coarse[c + 1]) ++b;
    const auto [lo, hi] = std::minmax_element(density.begin() + static_cast<std::ptrdiff_t>(from), density.begin() + static_cast<std::ptrdiff_t>(b));
    const bool even = *hi <= 2 * *lo;  // silent parts (0) are even only beside silent ones
    for (std::size_t k = from + 1; k < b; ++k)
      if (!even) kept.push_back(noise.edges[k]);
    kept.push_back(noise.edges[b]);
  }
  if (kept.size() == noise.edges.size()) return;
  noise = on_edges(noise, kept);
}

Noise critical_band_noise() {
  Noise noise;
  noise.edges = critical_band_edges();
  return noise;
}

}  // namespace zarn

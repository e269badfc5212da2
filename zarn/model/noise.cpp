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

Noise critical_band_noise() {
  Noise noise;
  noise.edges = critical_band_edges();
  return noise;
}

}  // namespace zarn

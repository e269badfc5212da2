#include "fit/monotone.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "fit/spline.hpp"

namespace zarn {

namespace {

double sign(double v) { return v > 0 ? 1.0 : v < 0 ? -1.0 : 0.0; }

// The end slope from the parabola through the first three knots (h0, h1 the first widths, s0,
// s1 the first secants), limited so that it keeps the first interval monotone.
double end_slope(double h0, double h1, double s0, double s1) {
  const double p = s0 * (1.0 + h0 / (h0 + h1)) - s1 * h0 / (h0 + h1);
  if (p * s0 <= 0) return 0.0;
  if (std::fabs(p) > 2.0 * std::fabs(s0)) return 2.0 * s0;
  return p;
}

}  // namespace

void monotone_slopes(const double* x, const double* y, double* yd, int n) {
  const double s_first = (y[1] - y[0]) / (x[1] - x[0]);
  if (n == 2) {  // the straight line
    yd[0] = yd[1] = s_first;
    return;
  }
  // Interior knots: the slope of the parabola through the knot and its neighbours, limited
  // by the secants on both sides; zero at a local extremum.
  for (int i = 1; i < n - 1; ++i) {
    const double h0 = x[i] - x[i - 1], h1 = x[i + 1] - x[i];
    const double s0 = (y[i] - y[i - 1]) / h0, s1 = (y[i + 1] - y[i]) / h1;
    const double p = (s0 * h1 + s1 * h0) / (h0 + h1);
    yd[i] = (sign(s0) + sign(s1)) * std::min({std::fabs(s0), std::fabs(s1), 0.5 * std::fabs(p)});
  }
  yd[0] = end_slope(x[1] - x[0], x[2] - x[1], s_first, (y[2] - y[1]) / (x[2] - x[1]));
  const double h0 = x[n - 1] - x[n - 2], h1 = x[n - 2] - x[n - 3];
  yd[n - 1] = end_slope(h0, h1, (y[n - 1] - y[n - 2]) / h0, (y[n - 2] - y[n - 3]) / h1);
}

void imonotone(const double* x, const double* y, int n, const double* xi, double* yi, int ni) {
  if (ni <= 0) return;
  if (n == 1) {  // every query lies on the only knot
    std::fill(yi, yi + ni, y[0]);
    return;
  }
  std::vector<double> yd(static_cast<std::size_t>(n));
  monotone_slopes(x, y, yd.data(), n);
  hermite_gen(x, y, yd.data(), n, xi, yi, ni, true);
}

}  // namespace zarn

#include "fit/linear.hpp"

#include <algorithm>

namespace zarn {

void ilinear(const double* x, const double* y, int n, const double* xi, double* yi, int ni) {
  int k = 0;  // the interval [x[k], x[k+1]] in use, walked forward
  for (int j = 0; j < ni; ++j) {
    const double v = xi[j];
    if (n == 1) {
      yi[j] = y[0];
      continue;
    }
    while (k < n - 2 && v > x[k + 1]) ++k;
    if (v == x[k + 1]) {
      yi[j] = y[k + 1];
      continue;
    }
    const double t = (v - x[k]) / (x[k + 1] - x[k]);
    const double lo = std::min(y[k], y[k + 1]), hi = std::max(y[k], y[k + 1]);
    yi[j] = std::min(std::max(y[k] + t * (y[k + 1] - y[k]), lo), hi);
  }
}

}  // namespace zarn

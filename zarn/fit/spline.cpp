#include "fit/spline.hpp"

#include <algorithm>
#include <vector>

#include "model/failure.hpp"

namespace zarn {

namespace {

// The coefficients of S on one interval, in powers of u = x - xl.
struct Cubic {
  double xl, xr;  // the interval's ends
  double c0, c1, c2, c3;
};

// Hermite form on [x[k], x[k+1]], with inv = 1/h and s the interval's secant slope:
//   c0 = y[k]
//   c1 = yd[k]
//   c2 = (3 s - 2 yd[k] - yd[k+1]) / h
//   c3 = (-2 s + yd[k] + yd[k+1]) / h^2
Cubic hermite_coefficients(const double* x, const double* y, const double* yd, int k) {
  Cubic c;
  c.xl = x[k];
  c.xr = x[k + 1];
  const double inv = 1.0 / (x[k + 1] - x[k]);
  const double s = (y[k + 1] - y[k]) * inv;
  c.c0 = y[k];
  c.c1 = yd[k];
  c.c2 = inv * (3.0 * s - 2.0 * yd[k] - yd[k + 1]);
  c.c3 = inv * inv * (-2.0 * s + yd[k] + yd[k + 1]);
  return c;
}

// Horner's scheme in u.
inline double horner(const Cubic& c, double v) {
  const double u = v - c.xl;
  return ((c.c3 * u + c.c2) * u + c.c1) * u + c.c0;
}

// Moves k forward to the interval that holds v, for x[0] <= v <= x[n-1]: the interval that
// starts at v when v is a knot, and the last interval when v is the last knot. It never
// moves back before knot 0, even for times out of order.
inline int find_interval(const double* x, int n, int k, double v) {
  // Stops at the last knot at the latest, so that a query past it (outside the contract)
  // never reads beyond the knots.
  while (k < n - 1 && v > x[k]) ++k;
  if (x[k] > v && k > 0) --k;
  if (k == n - 1) k = n - 2;
  return k;
}

// The tridiagonal solve in two parts, so that one matrix can serve several right-hand sides
// with exactly the operations of one solve each. Forward elimination of the matrix alone:
//   beta[0] = diag[0],  g[i] = super[i-1] / beta[i-1],  beta[i] = diag[i] - sub[i] g[i],
// a zero pivot being fatal.
void eliminate(const double* sub, const double* diag, const double* super, double* g, double* beta, int n) {
  beta[0] = diag[0];
  for (int i = 1; i < n; ++i) {
    g[i] = super[i - 1] / beta[i - 1];
    beta[i] = diag[i] - sub[i] * g[i];
    if (beta[i] == 0.0) throw Failure("getYD-gen: divide-by-zero");
  }
}

// A right-hand side through that elimination, then back substitution: rhs becomes z.
void substitute(const double* sub, const double* g, const double* beta, double* rhs, int n) {
  rhs[0] = rhs[0] / beta[0];
  for (int i = 1; i < n; ++i) rhs[i] = (rhs[i] - rhs[i - 1] * sub[i]) / beta[i];
  for (int i = n - 2; i >= 0; --i) rhs[i] = rhs[i] - rhs[i + 1] * g[i + 1];
}

// The slope system for n >= 4 knots, with h(i) = x[i+1] - x[i] interval i's width and
// s(i) = (y[i+1] - y[i]) / h(i) its secant slope. Its matrix depends on the knots alone:
//   row 0, not-a-knot at the start (S''' continuous at x[1]):
//     h1 (h0 + h1) yd[0] + (h0 + h1)^2 yd[1] = s0 (3 h0 h1 + 2 h1^2) + s1 h0^2
//   rows 1 .. n-2, S'' continuous at x[i], with e = h(i-1), d = h(i), f = s(i-1), g = s(i):
//     d yd[i-1] + 2 (e + d) yd[i] + e yd[i+1] = 3 (f d + g e)
//   row n-1, not-a-knot at the end (S''' continuous at x[n-2]), the mirror of row 0, with
//   e, d, f, g of the last interior row:
//     (e + d)^2 yd[n-2] + e (e + d) yd[n-1] = f d^2 + g (3 e d + 2 e^2)
// The matrix, and the right-hand side of each of kTracks tracks over the same knots, in one pass.
template <int kTracks>
void slope_system(const double* x, const double* const (&y)[kTracks], int n, double* sub, double* diag, double* super,
                  double* const (&rhs)[kTracks]) {
  const double h0 = x[1] - x[0], h1 = x[2] - x[1];
  diag[0] = h1 * (h0 + h1);
  super[0] = (h0 + h1) * (h0 + h1);
  double f[kTracks], g[kTracks];
  for (int t = 0; t < kTracks; ++t) {
    const double s0 = (y[t][1] - y[t][0]) / h0, s1 = (y[t][2] - y[t][1]) / h1;
    rhs[t][0] = s0 * (3.0 * h0 * h1 + 2.0 * (h1 * h1)) + s1 * (h0 * h0);
    f[t] = 0;
    g[t] = s0;
  }
  // Each interval's width and secant slope serve two rows: computed once, they are the same
  // doubles that computing them again would give.
  double e = 0, d = h0;
  for (int i = 1; i < n - 1; ++i) {
    e = d;
    d = x[i + 1] - x[i];
    sub[i] = d;
    diag[i] = 2.0 * (e + d);
    super[i] = e;
    for (int t = 0; t < kTracks; ++t) {
      f[t] = g[t];
      g[t] = (y[t][i + 1] - y[t][i]) / d;
      rhs[t][i] = 3.0 * (f[t] * d + g[t] * e);
    }
  }
  sub[n - 1] = (e + d) * (e + d);
  diag[n - 1] = e * (e + d);
  for (int t = 0; t < kTracks; ++t) rhs[t][n - 1] = f[t] * (d * d) + g[t] * (3.0 * e * d + 2.0 * (e * e));
}

// Scratch space of this thread (two separate areas), grown as needed and never cleared:
// every element used is written before it is read. Space beyond kKeptScratch doubles is
// given back after the call that needed it (release_large_scratch), so that one long partial
// does not hold memory for the thread's life.
constexpr std::size_t kKeptScratch = 1 << 18;
thread_local std::vector<double> scratch_space[2];

double* scratch(int area, std::size_t n) {
  std::vector<double>& s = scratch_space[area];
  if (s.size() < n) s.resize(n);
  return s.data();
}

void release_large_scratch() {
  for (std::vector<double>& s : scratch_space)
    if (s.size() > kKeptScratch) std::vector<double>().swap(s);
}

// The slopes of two tracks over the same knots (n >= 4): the matrix is built and eliminated
// once, and each right-hand side goes through the operations of its own solve.
void slopes_of_two(const double* x, const double* y1, const double* y2, double* yd1, double* yd2, int n) {
  double* sub = scratch(0, 5 * static_cast<std::size_t>(n));
  double* diag = sub + n;
  double* super = diag + n;
  double* g = super + n;
  double* beta = g + n;
  slope_system<2>(x, {y1, y2}, n, sub, diag, super, {yd1, yd2});
  // eliminate, then substitute for each right-hand side, in one pass each way: the same
  // operations on the same values, with the three chains of divisions side by side.
  beta[0] = diag[0];
  yd1[0] = yd1[0] / beta[0];
  yd2[0] = yd2[0] / beta[0];
  for (int i = 1; i < n; ++i) {
    g[i] = super[i - 1] / beta[i - 1];
    beta[i] = diag[i] - sub[i] * g[i];
    if (beta[i] == 0.0) throw Failure("getYD-gen: divide-by-zero");
    yd1[i] = (yd1[i] - yd1[i - 1] * sub[i]) / beta[i];
    yd2[i] = (yd2[i] - yd2[i - 1] * sub[i]) / beta[i];
  }
  for (int i = n - 2; i >= 0; --i) {
    yd1[i] = yd1[i] - yd1[i + 1] * g[i + 1];
    yd2[i] = yd2[i] - yd2[i + 1] * g[i + 1];
  }
}

}  // namespace

void tridiag_gen(const double* sub, const double* diag, const double* super, double* rhs, int n) {
  std::vector<double> scratch(2 * static_cast<std::size_t>(n));
  double* g = scratch.data();
  double* beta = g + n;
  eliminate(sub, diag, super, g, beta, n);
  substitute(sub, g, beta, rhs, n);
}

void getYD_gen(const double* x, const double* y, double* yd, int n) {
  const double h0 = x[1] - x[0];
  const double s0 = (y[1] - y[0]) / h0;
  if (n == 2) {  // the straight line through the two knots
    yd[0] = s0;
    yd[1] = s0;
    return;
  }
  const double h1 = x[2] - x[1];
  const double s1 = (y[2] - y[1]) / h1;
  if (n == 3) {
    // Three knots leave the not-a-knot system singular (both end rows say the same thing);
    // its solution is the parabola through them. With its second divided difference
    //   c = (s1 - s0) / (h0 + h1):
    //   yd[0] = s0 - c h0,   yd[1] = s0 + c h0,   yd[2] = s1 + c h1
    // Each end slope is taken from the secant of the interval next to it, which rounds
    // closer to the exact slope than carrying s0 across both intervals would.
    const double c = (s1 - s0) / (h0 + h1);
    yd[0] = s0 - c * h0;
    yd[1] = s0 + c * h0;
    yd[2] = s1 + c * h1;
    return;
  }
  std::vector<double> scratch(3 * static_cast<std::size_t>(n));
  double* sub = scratch.data();
  double* diag = sub + n;
  double* super = diag + n;
  slope_system<1>(x, {y}, n, sub, diag, super, {yd});  // the right-hand side goes straight into the slopes
  tridiag_gen(sub, diag, super, yd, n);
}

void ispline2_gen(const double* x, const double* y1, const double* y2, int n, const double* xi, double* yi1, double* yi2,
                  int ni) {
  if (n < 4 || ni <= 0) {  // short tracks: nothing worth sharing
    ispline_gen(x, y1, n, xi, yi1, ni);
    ispline_gen(x, y2, n, xi, yi2, ni);
    return;
  }
  if (xi[0] < x[0] || xi[ni - 1] > x[n - 1]) throw Failure("ispline_gen: Out of range\n");
  double* yd1 = scratch(1, 2 * static_cast<std::size_t>(n));
  double* yd2 = yd1 + n;
  slopes_of_two(x, y1, y2, yd1, yd2, n);
  Cubic c1{}, c2{};
  bool located = false;
  int k = 0;
  for (int j = 0; j < ni; ++j) {
    const double v = xi[j];
    if (!located || v > c1.xr) {
      k = find_interval(x, n, k, v);
      c1 = hermite_coefficients(x, y1, yd1, k);
      c2 = hermite_coefficients(x, y2, yd2, k);
      located = true;
    }
    yi1[j] = horner(c1, v);
    yi2[j] = horner(c2, v);
  }
  release_large_scratch();
}

void ispline_gen(const double* x, const double* y, int n, const double* xi, double* yi, int ni) {
  if (ni <= 0) return;
  if (n < 1 || xi[0] < x[0] || xi[ni - 1] > x[n - 1]) throw Failure("ispline_gen: Out of range\n");
  if (n == 1) {  // every query lies on the only knot
    for (int j = 0; j < ni; ++j) yi[j] = y[0];
    return;
  }
  std::vector<double> yd(static_cast<std::size_t>(n));
  getYD_gen(x, y, yd.data(), n);
  hermite_gen(x, y, yd.data(), n, xi, yi, ni, false);
}

void hermite_gen(const double* x, const double* y, const double* yd, int n, const double* xi, double* yi, int ni,
                 bool within_knots) {
  // One forward walk: a query past the interval in use locates the next one; a query up to
  // and including its right end reuses its coefficients.
  Cubic cubic{};
  bool located = false;
  int k = 0;
  for (int j = 0; j < ni; ++j) {
    const double v = xi[j];
    if (!located || v > cubic.xr) {
      k = find_interval(x, n, k, v);
      cubic = hermite_coefficients(x, y, yd, k);
      located = true;
    }
    yi[j] = horner(cubic, v);
    if (within_knots) {
      // The knot's own value on a knot, and never beyond the values at the interval's ends,
      // whatever the rounding of the cubic.
      const double lo = std::min(y[k], y[k + 1]), hi = std::max(y[k], y[k + 1]);
      if (v == cubic.xr) yi[j] = y[k + 1];
      yi[j] = std::min(std::max(yi[j], lo), hi);
    }
  }
}

}  // namespace zarn

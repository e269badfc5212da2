// The spline against answers worked out by hand: lines and cubics are reproduced to rounding,
// knots are hit, short tracks give the line or parabola through them.
#include "fit/spline.hpp"

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "model/failure.hpp"

namespace {

using zarn::Failure;
using Fn = std::function<double(double)>;

std::vector<double> sample(const std::vector<double>& x, const Fn& fn) {
  std::vector<double> y;
  for (double v : x) y.push_back(fn(v));
  return y;
}

std::vector<double> evaluate(const std::vector<double>& x, const std::vector<double>& y, const std::vector<double>& xi) {
  std::vector<double> yi(xi.size(), -999.0);
  zarn::ispline_gen(x.data(), y.data(), static_cast<int>(x.size()), xi.data(), yi.data(), static_cast<int>(xi.size()));
  return yi;
}

std::string failure_of(const std::function<void()>& call) {
  try {
    call();
  } catch (const Failure& f) {
    return f.message;
  }
  return "";
}

// Queries spread over [x0, xn], knots included, non-decreasing.
std::vector<double> queries(const std::vector<double>& x) {
  std::vector<double> q;
  for (std::size_t i = 0; i + 1 < x.size(); ++i)
    for (int s = 0; s < 7; ++s) q.push_back(x[i] + (x[i + 1] - x[i]) * s / 7.0);
  q.push_back(x.back());
  return q;
}

struct Reproduced {
  const char* name;
  std::vector<double> x;
  Fn fn;
};

// Data of degree at most 3 (at most 2 for three knots, 1 for two) lie on the spline itself.
TEST(Spline, ReproducesPolynomialsItCanRepresent) {
  const std::vector<double> uneven = {0, 0.1, 0.5, 0.7, 1.3};
  const std::vector<Reproduced> cases = {
      {"line 2t+1, uneven", uneven, [](double t) { return 2 * t + 1; }},
      {"cubic t^3-t, uneven", uneven, [](double t) { return t * t * t - t; }},
      {"cubic, many knots", {0, 0.3, 0.35, 1, 1.1, 2.5, 2.6, 4}, [](double t) { return 0.5 * t * t * t - 2 * t * t + t - 7; }},
      {"cubic, four knots", {1, 2, 2.5, 3}, [](double t) { return t * t * t; }},
      {"cubic at audio scale", {0.5, 0.5058, 0.5113, 0.5177, 0.5232}, [](double t) { return 440 + 3000 * (t - 0.5) * (t - 0.5) * (t - 0.5); }},
      {"parabola, three knots 0 1 3", {0, 1, 3}, [](double t) { return t * t - 2 * t + 5; }},
      {"parabola, three equal steps", {0, 1, 2}, [](double t) { return -3 * t * t + t; }},
      {"parabola, three knots 0 0.1 0.3", {0, 0.1, 0.3}, [](double t) { return 4 * t * t + 1; }},
      {"line, two knots", {1.0, 1.45}, [](double t) { return 500 + 100 * t; }},
  };
  for (const Reproduced& c : cases) {
    SCOPED_TRACE(c.name);
    const auto xi = queries(c.x);
    const auto yi = evaluate(c.x, sample(c.x, c.fn), xi);
    for (std::size_t j = 0; j < xi.size(); ++j) {
      const double want = c.fn(xi[j]);
      EXPECT_NEAR(yi[j], want, 1e-12 * (1 + std::fabs(want))) << "at " << xi[j];
    }
  }
}

TEST(Spline, SlopesOfStraightLineDataAreItsSlope) {
  const std::vector<double> x = {0, 0.1, 0.5, 0.7, 1.3};
  const auto y = sample(x, [](double t) { return 2 * t + 1; });
  std::vector<double> yd(x.size());
  zarn::getYD_gen(x.data(), y.data(), yd.data(), static_cast<int>(x.size()));
  for (double s : yd) EXPECT_NEAR(s, 2.0, 1e-13);
}

TEST(Spline, SlopesOfCubicDataWorkedByHand) {
  // y = t^3 at t = 0, 1, 2, 3: the slopes are 3 t^2 (row 0: 2 yd0 + 4 yd1 = 1 * 5 + 7 * 1).
  const std::vector<double> x = {0, 1, 2, 3}, y = {0, 1, 8, 27}, want = {0, 3, 12, 27};
  std::vector<double> yd(4);
  zarn::getYD_gen(x.data(), y.data(), yd.data(), 4);
  for (std::size_t i = 0; i < 4; ++i) EXPECT_NEAR(yd[i], want[i], 1e-13);
}

// Slopes to the last bit, worked out with every operation rounded in the order written
// (squares grouped as h0*h0, as in the rows' formulas).
TEST(Spline, SlopesBitForBit) {
  const struct {
    const char* what;
    std::vector<double> x, y, yd;
  } cases[] = {
      // The parabola's end slope s1 + c h1 is -325/66 correctly rounded; s0 + c (h0 + 2 h1)
      // would be one unit in the last place off.
      {"three knots, uneven", {0, 0.8, 1.1}, {1, 3, 2}, {0x1.af83e0f83e0f8p+2, -0x1.be0f83e0f83e0p+0, -325.0 / 66.0}},
      {"four knots, uneven", {0, 0.3, 0.4, 1}, {1, 3, 2, 5},
       {0x1.abcf3cf3cf3c0p+4, -0x1.ee79e79e79e68p+2, -0x1.7492492492496p+3, 0x1.62db6db6db6e3p+5}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<double> yd(c.x.size());
    zarn::getYD_gen(c.x.data(), c.y.data(), yd.data(), static_cast<int>(c.x.size()));
    for (std::size_t i = 0; i < yd.size(); ++i) EXPECT_EQ(yd[i], c.yd[i]) << "slope " << i;
  }
}

// Two tracks at once give the figures of two single calls, to the last bit, for every length.
TEST(Spline, TwoTracksAtOnceAreTwoSingleTracks) {
  std::mt19937_64 rng(2024);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (int n = 1; n <= 60; ++n) {
    std::vector<double> x(static_cast<std::size_t>(n)), y1(x.size()), y2(x.size());
    double t = u(rng);
    for (std::size_t i = 0; i < x.size(); ++i) {
      x[i] = t;
      t += 0.001 + u(rng) * 0.01;
      y1[i] = 440 + 50 * u(rng);
      y2[i] = u(rng) * 0.1;
    }
    std::vector<double> xi;
    for (double q = x.front(); q <= x.back(); q += 0.0017) xi.push_back(q);
    xi.insert(xi.end(), x.begin(), x.end());  // queries on the knots too, where the walk locates anew
    std::sort(xi.begin(), xi.end());
    std::vector<double> a1(xi.size()), a2(xi.size()), b1(xi.size()), b2(xi.size());
    zarn::ispline_gen(x.data(), y1.data(), n, xi.data(), a1.data(), static_cast<int>(xi.size()));
    zarn::ispline_gen(x.data(), y2.data(), n, xi.data(), a2.data(), static_cast<int>(xi.size()));
    zarn::ispline2_gen(x.data(), y1.data(), y2.data(), n, xi.data(), b1.data(), b2.data(), static_cast<int>(xi.size()));
    ASSERT_EQ(a1, b1) << n;
    ASSERT_EQ(a2, b2) << n;
  }
}

TEST(Spline, KnotsAreHitExactlyWhenTheyStartTheInterval) {
  const std::vector<double> x = {0, 0.25, 0.3, 0.8, 1.0}, y = {3.5, -1.25, 7.0, 2.0, 0.125};
  // A first query locates the interval that starts on its knot: u = 0 gives c0 = y[k].
  for (std::size_t k = 0; k + 1 < x.size(); ++k) EXPECT_EQ(evaluate(x, y, {x[k]})[0], y[k]);
  // So does a query past the interval in use.
  EXPECT_EQ(evaluate(x, y, {0.1, 0.27, 0.8}), (std::vector<double>{evaluate(x, y, {0.1})[0], evaluate(x, y, {0.27})[0], 2.0}));
  // The last knot closes the last interval, and a knot that ends the interval in use stays
  // in it: both hit up to rounding.
  EXPECT_NEAR(evaluate(x, y, {1.0})[0], 0.125, 1e-13);
  EXPECT_NEAR(evaluate(x, y, {0.1, 0.25})[1], -1.25, 1e-13);
}

TEST(Spline, ShortTracks) {
  EXPECT_EQ(evaluate({2.0}, {7.5}, {2.0, 2.0}), (std::vector<double>{7.5, 7.5}));
  EXPECT_EQ(evaluate({2.0, 3.0}, {1.0, 5.0}, {2.0, 2.5}), (std::vector<double>{1.0, 3.0}));
  EXPECT_EQ(evaluate({0, 1, 3}, {5, 4, 8}, {0, 1}), (std::vector<double>{5, 4}));  // t^2-2t+5 at its knots
}

TEST(Spline, EmptyQueryListNeedsNoRangeTest) {
  std::vector<double> yi;
  EXPECT_EQ(failure_of([&] { yi = evaluate({0, 1, 2, 3}, {1, 2, 3, 4}, {}); }), "");
  EXPECT_TRUE(yi.empty());
}

TEST(Spline, QueriesOutsideTheKnotsAreFatal) {
  const std::vector<double> x = {0, 1, 2, 3}, y = {1, 2, 0, 4};
  const std::vector<std::vector<double>> outside = {{-0.001, 1}, {0, 1, 3.0000001}, {-1}, {4}};
  for (const auto& xi : outside) EXPECT_EQ(failure_of([&] { evaluate(x, y, xi); }), "ispline_gen: Out of range\n");
  EXPECT_EQ(failure_of([&] { evaluate(x, y, {0, 3}); }), "");  // both end knots are in range
}

TEST(Spline, NearlySingularSystemStillSolves) {
  // Four knots spaced 1, r, 1 with small r: the last pivot is about 2r times its diagonal
  // entry, small but never zero, and rounding grows as r shrinks.
  const auto cubic = [](double t) { return t * t * t - 2 * t; };
  for (double r : {1e-2, 1e-3, 1e-4, 1e-9}) {
    const std::vector<double> x = {0, 1, 1 + r, 2 + r};
    const auto yi = evaluate(x, sample(x, cubic), {0.5, 1.5});
    for (double v : yi) EXPECT_TRUE(std::isfinite(v));
    if (r >= 1e-4) {
      EXPECT_NEAR(yi[0], cubic(0.5), 1e-15 / (r * r));
      EXPECT_NEAR(yi[1], cubic(1.5), 1e-15 / (r * r));
    }
  }
}

TEST(Tridiag, SolvesWorkedSystemInPlace) {
  // [2 1 0; 1 2 1; 0 1 2] z = [4, 8, 8] has z = [1, 2, 3].
  const std::vector<double> sub = {0, 1, 1}, diag = {2, 2, 2}, super = {1, 1, 0};
  std::vector<double> rhs = {4, 8, 8};
  zarn::tridiag_gen(sub.data(), diag.data(), super.data(), rhs.data(), 3);
  for (std::size_t i = 0; i < 3; ++i) EXPECT_NEAR(rhs[i], static_cast<double>(i) + 1.0, 1e-15);
  EXPECT_EQ(diag, (std::vector<double>{2, 2, 2}));  // left as it was
}

TEST(Tridiag, ZeroPivotIsFatalWithItsMessage) {
  // [1 1; 1 1]: the second pivot is 1 - 1 * 1 = 0.
  const std::vector<double> sub = {0, 1}, diag = {1, 1}, super = {1, 0};
  std::vector<double> rhs = {1, 1};
  EXPECT_EQ(failure_of([&] { zarn::tridiag_gen(sub.data(), diag.data(), super.data(), rhs.data(), 2); }),
            "getYD-gen: divide-by-zero");
}

}  // namespace

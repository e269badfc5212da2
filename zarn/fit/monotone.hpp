// A shape-preserving cubic: a Hermite cubic on each interval whose slopes at the knots are
// limited (Steffen's slopes) so that it is monotone between two knots and never leaves the
// range of their values: no overshoot across a gap or a jump, no negative frequency from
// positive ones. It is continuous with a continuous first derivative, and reproduces straight
// lines.
#pragma once

namespace zarn {

/// Fills yd with the limited slopes at the n >= 2 knots (x, y), x strictly ascending.
void monotone_slopes(const double* x, const double* y, double* yd, int n);

/// Evaluates the shape-preserving cubic through the n knots (x, y) at the ni non-decreasing
/// times xi within [x[0], x[n-1]], into yi: every value lies within the values at its
/// interval's ends, and a time on a knot gives the knot's value.
void imonotone(const double* x, const double* y, int n, const double* xi, double* yi, int ni);

}  // namespace zarn

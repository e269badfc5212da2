// Not-a-knot cubic spline through one track of breakpoints, evaluated at ascending times.
//
// On the interval from knot k to knot k+1 the spline is the cubic in u = x - x[k]
//     S(x) = c0 + c1 u + c2 u^2 + c3 u^3,
// fixed by the values y[k], y[k+1] and the slopes yd[k], yd[k+1] at the two knots.
// The slopes come from one tridiagonal system: continuity of S'' at every interior knot,
// and continuity of S''' at the second and the last-but-one knot (not-a-knot).
#pragma once

namespace zarn {

/// Solves the tridiagonal system (sub, diag, super) * z = rhs of order n in place: rhs becomes z.
void tridiag_gen(const double* sub, const double* diag, const double* super, double* rhs, int n);

/// Fills yd with the spline's slopes at the n knots (x, y); n >= 2, x strictly ascending.
void getYD_gen(const double* x, const double* y, double* yd, int n);

/// Evaluates the spline through the n knots (x, y) at the ni non-decreasing times xi, into yi.
void ispline_gen(const double* x, const double* y, int n, const double* xi, double* yi, int ni);

/// Evaluates the piecewise cubic through the n >= 2 knots (x, y) with the slopes yd there, at
/// the ni non-decreasing times xi within [x[0], x[n-1]], into yi. With `within_knots`, each
/// value is held within the values at its interval's ends, and a query on a knot gives the
/// knot's value.
void hermite_gen(const double* x, const double* y, const double* yd, int n, const double* xi, double* yi, int ni,
                 bool within_knots);

/// Evaluates the splines through (x, y1) and (x, y2) at xi, into yi1 and yi2: the same figures
/// as two calls of ispline_gen, with the work that depends on the knots alone done once.
void ispline2_gen(const double* x, const double* y1, const double* y2, int n, const double* xi, double* yi1, double* yi2,
                  int ni);

}  // namespace zarn

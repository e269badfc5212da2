// Straight lines between the breakpoints: nothing but the breakpoints' own values.
#pragma once

namespace zarn {

/// Evaluates the broken line through the n knots (x, y) at the ni non-decreasing times xi
/// within [x[0], x[n-1]], into yi: a time on a knot gives the knot's value, and every value
/// lies within the values at its interval's ends.
void ilinear(const double* x, const double* y, int n, const double* xi, double* yi, int ni);

}  // namespace zarn

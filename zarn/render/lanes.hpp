// Oscillators run side by side in lanes: the kernels that run their recurrences and add
// their samples up, vectorised, each operation rounded on its own.
#pragma once

#include <cstddef>

namespace zarn {
namespace detail {

// Oscillators run side by side, kLanes at once: their recurrences are independent, so the
// processor works on all of them where one voice alone would wait on its own products.
constexpr int kLanes = 8;

// The recurrences of the lanes, one number of each lane's voice per array.
struct Lanes {
  alignas(64) double zr[kLanes], zi[kLanes], wr[kLanes], wi[kLanes], rr[kLanes], ri[kLanes];
  alignas(64) double qr[kLanes], qi[kLanes];  // how r turns each sample, where phases are followed
  alignas(64) double a[kLanes], slope[kLanes], tj[kLanes];

  // A lane that adds nothing (its samples are +0, which leave any sum as it is).
  void quiet(int l) { zr[l] = 1, zi[l] = 0, wr[l] = 1, wi[l] = 0, rr[l] = 1, ri[l] = 0, qr[l] = 1, qi[l] = 0, a[l] = 0, slope[l] = 0, tj[l] = 0; }
};

/// The samples n in [from, to) of every lane at gain 1, each (a + slope (t - t_j)) sin(phase),
/// in rows: lane l's sample n at rows[(n - from) * kLanes + l]; the lanes go on.
void run_lanes(Lanes& s, double T, long from, long to, double* rows);

/// The same where r turns by q each sample (voices that follow their phases).
void run_cubic_lanes(Lanes& s, double T, long from, long to, double* rows);

/// Adds each row's first `count` lanes, in order, to sum[i] for the rows i in [0, length).
void add_rows(double* sum, const double* rows, long length, int count);

/// The sums as floats into out; returns their largest magnitude, and sets `nan` where one of
/// them is not a number.
float to_floats(const double* sum, float* out, std::size_t count, bool& nan);

}  // namespace detail
}  // namespace zarn

#include "render/lanes.hpp"

#include <cmath>
#include <cstring>

namespace zarn {
namespace detail {

// The lanes as one vector of doubles, which the compiler keeps in the widest registers the
// processor has.
using LaneVector = double __attribute__((vector_size(kLanes * sizeof(double))));

// The build for x86-64 in general carries clones for AVX2 and AVX-512 too, chosen as the
// program starts: the same operations, each rounded on its own, so the same numbers. Under a
// sanitizer the choice would run before the sanitizer's runtime is ready, and crash.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define ZARN_LANE_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define ZARN_LANE_CLONES
#endif

namespace {

// The samples n in [from, to) of every lane at gain 1, each (a + slope (t - t_j)) sin(phase)
// as Voice::add_run makes it, in rows: lane l's sample n at rows[(n - from) * kLanes + l]; the
// lanes go on. kCubic: r turns by q each sample too, and is kept. Inlined into each clone below.
template <bool kCubic>
__attribute__((always_inline)) inline void lanes_loop(Lanes& s, double T, long from, long to, double* rows) {
  LaneVector zr, zi, wr, wi, rr, ri, qr, qi, a, slope, tj;
  std::memcpy(&zr, s.zr, sizeof zr), std::memcpy(&zi, s.zi, sizeof zi);
  std::memcpy(&wr, s.wr, sizeof wr), std::memcpy(&wi, s.wi, sizeof wi);
  std::memcpy(&rr, s.rr, sizeof rr), std::memcpy(&ri, s.ri, sizeof ri);
  if constexpr (kCubic) std::memcpy(&qr, s.qr, sizeof qr), std::memcpy(&qi, s.qi, sizeof qi);
  std::memcpy(&a, s.a, sizeof a), std::memcpy(&slope, s.slope, sizeof slope), std::memcpy(&tj, s.tj, sizeof tj);
  for (long n = from; n < to; ++n, rows += kLanes) {
    const double t = static_cast<double>(n) * T;
    const LaneVector sample = (a + slope * (t - tj)) * zi;
    std::memcpy(rows, &sample, sizeof sample);
    const LaneVector z_r = zr * wr - zi * wi, z_i = zr * wi + zi * wr;
    const LaneVector w_r = wr * rr - wi * ri, w_i = wr * ri + wi * rr;
    zr = z_r, zi = z_i, wr = w_r, wi = w_i;
    if constexpr (kCubic) {
      const LaneVector r_r = rr * qr - ri * qi, r_i = rr * qi + ri * qr;
      rr = r_r, ri = r_i;
    }
  }
  std::memcpy(s.zr, &zr, sizeof zr), std::memcpy(s.zi, &zi, sizeof zi);
  std::memcpy(s.wr, &wr, sizeof wr), std::memcpy(s.wi, &wi, sizeof wi);
  if constexpr (kCubic) std::memcpy(s.rr, &rr, sizeof rr), std::memcpy(s.ri, &ri, sizeof ri);
}

}  // namespace

ZARN_LANE_CLONES void run_lanes(Lanes& s, double T, long from, long to, double* rows) { lanes_loop<false>(s, T, from, to, rows); }

ZARN_LANE_CLONES void run_cubic_lanes(Lanes& s, double T, long from, long to, double* rows) { lanes_loop<true>(s, T, from, to, rows); }

// Adds each row's first `count` lanes, in order, to sum[i] for the rows i in [0, length).
ZARN_LANE_CLONES void add_rows(double* sum, const double* rows, long length, int count) {
  long i = 0;
#if defined(__GNUC__) && !defined(__clang__)
  static_assert(kLanes == 8, "the transposition below is of 8 by 8");
  // Eight samples at a time: their rows transposed into columns, one a lane, so that each
  // lane is added to the eight sums at once, still lane after lane.
  using Index = long __attribute__((vector_size(kLanes * sizeof(long))));
  const Index even = {0, 8, 2, 10, 4, 12, 6, 14}, odd = {1, 9, 3, 11, 5, 13, 7, 15};
  const Index pairs_lo = {0, 1, 8, 9, 4, 5, 12, 13}, pairs_hi = {2, 3, 10, 11, 6, 7, 14, 15};
  const Index half_lo = {0, 1, 2, 3, 8, 9, 10, 11}, half_hi = {4, 5, 6, 7, 12, 13, 14, 15};
  for (; i + kLanes <= length; i += kLanes) {
    LaneVector r[kLanes], t[kLanes], u[kLanes], c[kLanes];
    for (int k = 0; k < kLanes; ++k) std::memcpy(&r[k], rows + (i + k) * kLanes, sizeof r[k]);
    for (int k = 0; k < kLanes; k += 2) t[k] = __builtin_shuffle(r[k], r[k + 1], even), t[k + 1] = __builtin_shuffle(r[k], r[k + 1], odd);
    for (int k = 0; k < kLanes; k += 4) {
      u[k] = __builtin_shuffle(t[k], t[k + 2], pairs_lo), u[k + 2] = __builtin_shuffle(t[k], t[k + 2], pairs_hi);
      u[k + 1] = __builtin_shuffle(t[k + 1], t[k + 3], pairs_lo), u[k + 3] = __builtin_shuffle(t[k + 1], t[k + 3], pairs_hi);
    }
    for (int k = 0; k < 4; ++k) c[k] = __builtin_shuffle(u[k], u[k + 4], half_lo), c[k + 4] = __builtin_shuffle(u[k], u[k + 4], half_hi);
    LaneVector x;
    std::memcpy(&x, sum + i, sizeof x);
    for (int l = 0; l < count; ++l) x += c[l];
    std::memcpy(sum + i, &x, sizeof x);
  }
#endif
  for (; i < length; ++i) {
    double x = sum[i];
    for (int l = 0; l < count; ++l) x += rows[i * kLanes + l];
    sum[i] = x;
  }
}

// The sums as floats into out; returns their largest magnitude, and sets `nan` where one of
// them is not a number.
ZARN_LANE_CLONES float to_floats(const double* sum, float* out, std::size_t count, bool& nan) {
  float top = 0;
  std::size_t i = 0;
#if defined(__GNUC__) && !defined(__clang__)
  using Floats = float __attribute__((vector_size(kLanes * sizeof(float))));
  using Ints = int __attribute__((vector_size(kLanes * sizeof(int))));
  Floats tops = {};
  Ints nans = {};
  for (; i + kLanes <= count; i += kLanes) {
    LaneVector d;
    std::memcpy(&d, sum + i, sizeof d);
    const Floats f = __builtin_convertvector(d, Floats);
    std::memcpy(out + i, &f, sizeof f);
    const Floats magnitude = f < 0 ? -f : f;
    nans |= magnitude != magnitude;
    tops = magnitude > tops ? magnitude : tops;
  }
  for (int l = 0; l < kLanes; ++l) {
    nan |= nans[l] != 0;
    top = tops[l] > top ? tops[l] : top;
  }
#endif
  for (; i < count; ++i) {
    out[i] = static_cast<float>(sum[i]);
    const float magnitude = std::fabs(out[i]);
    nan |= magnitude != magnitude;
    top = magnitude > top ? magnitude : top;
  }
  return top;
}

}  // namespace detail
}  // namespace zarn

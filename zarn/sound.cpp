#include "sound.hpp"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <limits>
#include <string>

#include "failure.hpp"
#include "memory.hpp"
#include "phase.hpp"

namespace zarn {

namespace {

// The oscillator is run by recurrence, two complex products a sample, and set afresh from
// the exact phase at least this often, so that rounding cannot build up (see the test of its
// error, far below -120 dB).
constexpr long kReseed = 1024;

// A sample number, computed in double, converted within [lo, hi]: numbers far outside the
// sound (times near +-1e300, or not numbers) stand at its bounds, where the loops below treat
// them exactly as the numbers themselves.
long sample_number(double n, long lo, long hi) {
  if (!(n > static_cast<double>(lo))) return lo;
  if (n >= static_cast<double>(hi)) return hi;
  return static_cast<long>(n);
}

}  // namespace

namespace detail {

void add_partial(const Resampled& part, double step, int rate, std::vector<double>& out) {
  const std::size_t N = part.time.size();
  if (N < 2 || out.empty()) return;
  const double T = 1.0 / rate;
  const double t_first = part.time.front(), t_last = part.time.back();
  // One grid step at most; partials that come without a grid (step 0) take their first interval.
  const double fade = std::min(step > 0 ? step : part.time[1] - part.time[0], kMaxFade);
  const long n_end = static_cast<long>(out.size());
  const auto amp = [&](std::size_t j) { return part.amp[j] > 0 ? part.amp[j] : 0.0; };
  // What lies at or above half the rate would fold back as another frequency: it is left out,
  // faded over the band just below.
  const double half_rate = 0.5 * rate, band = kHalfRateFade * half_rate;
  // Samples between the fades, where the gain is 1 for certain (one sample of margin).
  const long full_from = sample_number(std::ceil((t_first + fade) * rate), -2, n_end + 2) + 1;
  const long full_to = sample_number(std::floor((t_last - fade) * rate), -2, n_end + 2) - 1;

  // On the segment from grid point j to j + 1 (width h) the frequency is linear,
  //   f(t) = f_j + k (t - t_j),  k = (f_{j+1} - f_j) / h,
  // and the phase its exact integral from phi_j, the phase at t_j:
  //   phi(t) = phi_j + 2 pi (f_j d + k d^2 / 2),  d = t - t_j.
  // From sample n to n + 1 the phase grows by delta(n) = 2 pi T (f(t_n) + k T / 2), which
  // itself grows by 2 pi k T^2 each sample: z = e^{i phi} and w = e^{i delta} follow by
  // z <- z w, w <- w r with r = e^{i 2 pi k T^2}.
  double phi_j = 0;
  for (std::size_t j = 0; j + 1 < N; ++j) {
    const double t_j = part.time[j], t_next = part.time[j + 1];
    const double h = t_next - t_j;
    const double f_j = part.freq[j], k = (part.freq[j + 1] - f_j) / h;
    const double a_j = amp(j), slope_a = (amp(j + 1) - a_j) / h;
    // A frequency or level that is not a finite number makes no sound (the partial list
    // format lets "nan" through); its phase is not carried on either.
    if (!std::isfinite(k) || !std::isfinite(f_j) || !std::isfinite(slope_a)) continue;
    // Samples from ceil(t_j * rate) up to the one before t_next; the last segment keeps t_last.
    long n = sample_number(std::ceil(t_j * rate), 0, n_end);
    const long n_stop = j + 2 == N ? sample_number(std::floor(t_last * rate) + 1, 0, n_end)
                                   : sample_number(std::ceil(t_next * rate), 0, n_end);
    const bool near_half_rate = std::max(f_j, part.freq[j + 1]) > half_rate - band;
    const std::complex<double> r = std::polar(1.0, kTwoPi * k * T * T);
    while (n < n_stop) {
      const double d = static_cast<double>(n) * T - t_j;
      const std::complex<double> z0 = std::polar(1.0, wrap_phase(phi_j + kTwoPi * (f_j * d + k * d * d / 2)));
      const std::complex<double> w0 = std::polar(1.0, kTwoPi * T * (f_j + k * d + k * T / 2));
      // The complex products written out: the library's own checks for infinities would
      // cost more than the products themselves.
      double zr = z0.real(), zi = z0.imag(), wr = w0.real(), wi = w0.imag();
      const double rr = r.real(), ri = r.imag();
      const long run_stop = std::min(n_stop, n + kReseed);
      for (; n < run_stop; ++n) {
        const double t = static_cast<double>(n) * T;
        double gain = n >= full_from && n <= full_to ? 1.0 : std::min({1.0, (t - t_first) / fade, (t_last - t) / fade});
        if (near_half_rate) gain *= std::clamp((half_rate - (f_j + k * (t - t_j))) / band, 0.0, 1.0);
        out[static_cast<std::size_t>(n)] += (a_j + slope_a * (t - t_j)) * gain * zi;
        const double z_r = zr * wr - zi * wi, z_i = zr * wi + zi * wr;
        const double w_r = wr * rr - wi * ri, w_i = wr * ri + wi * rr;
        zr = z_r, zi = z_i, wr = w_r, wi = w_i;
      }
    }
    phi_j = next_phase(phi_j, t_j, f_j, t_next, part.freq[j + 1]);
  }
}

}  // namespace detail

namespace {

// The sound's end, in seconds: the last grid time of any partial; negative when there is none.
double sound_end(const ResampledSet& set) {
  double end = -1;
  for (const Resampled& part : set.partials)
    if (part.N() > 0) end = std::max(end, part.time.back());
  return end;
}

double sample_count(double end, int rate) { return end < 0 ? 0 : std::floor(end * rate) + 1; }

}  // namespace

int partials_at_half_rate(const ResampledSet& set, int rate) {
  int count = 0;
  for (const Resampled& part : set.partials)
    if (part.N() > 1 && std::any_of(part.freq.begin(), part.freq.end(), [&](double f) { return f >= 0.5 * rate; })) ++count;
  return count;
}

void check_sound_memory(const ResampledSet& set, int rate) {
  // The sum is held whole, in doubles, and handed on in floats.
  const double end = sound_end(set);
  char hours[32];
  std::snprintf(hours, sizeof hours, "%.1f", end / 3600);
  check_memory(sample_count(end, rate) * (sizeof(double) + sizeof(float)), "a sound of " + std::string(hours) + " hours from time 0");
}

std::vector<float> render(const ResampledSet& set, int rate) {
  check_sound_memory(set, rate);  // before touching any of it
  const auto length = static_cast<std::size_t>(sample_count(sound_end(set), rate));
  std::vector<double> sum(length, 0.0);
  for (const Resampled& part : set.partials) detail::add_partial(part, set.step, rate, sum);
  return std::vector<float>(sum.begin(), sum.end());
}

double normalize(std::vector<float>& samples, double peak_db) {
  const double top = peak(samples);
  if (!(top > 0) || !std::isfinite(top)) return 0;
  const double gain = std::pow(10.0, peak_db / 20.0) / top;
  for (float& s : samples) s = static_cast<float>(static_cast<double>(s) * gain);
  return 20 * std::log10(gain);
}

double peak(const std::vector<float>& samples) {
  double p = 0;
  for (float s : samples) {
    if (!std::isfinite(s)) return std::numeric_limits<double>::infinity();
    p = std::max(p, static_cast<double>(std::fabs(s)));
  }
  return p;
}

}  // namespace zarn

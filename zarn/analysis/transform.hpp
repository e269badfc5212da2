// One frame of a sound seen through the analysis window: the Blackman window, zero-phase, and
// three transforms of the frame (through the window, its derivative and the time-weighted
// window), from which the peaks take their reassigned frequencies and times.
#pragma once

#include <algorithm>
#include <complex>
#include <cstddef>
#include <vector>

#include "analysis/fft.hpp"

namespace zarn {

/// The Blackman window: side lobes 58 dB down, its main lobe reaching this many bins to either
/// side, so that partials `resolution` apart, as many bins of a window 3 rate / resolution
/// long, lie on each other's first null.
constexpr double kLobeBins = 3.0;

/// The window of `L` samples (odd) at `rate`, zero-padded to the next power of two, and the
/// transforms of a frame through it; planned once, run for every frame.
class FrameTransform {
 public:
  FrameTransform(std::size_t L, double rate);

  std::size_t window() const { return L_; }
  std::size_t half() const { return half_; }
  /// The window's half in seconds: from its centre to either end.
  double half_seconds() const { return static_cast<double>(half_) / rate_; }
  /// The transforms' length, a power of two.
  std::size_t size() const { return N_; }
  /// The sum of the window's squares.
  double energy() const { return energy_; }
  /// The second moment of the window's energy about its centre, in seconds squared.
  double spread() const { return spread_; }
  /// The second moment of the window itself about its centre, in seconds squared: a partial
  /// gliding by c hertz a second turns its peak's phase by about pi c times this.
  double bend() const { return bend_; }
  /// |W(0)|, the window's sum: a sine of amplitude A peaks at A |W(0)| / 2.
  double gain() const { return gain_; }

  /// Windows the frame whose n-th sample (n from 0 to window() - 1) is sample(n), with the
  /// window's centre at index 0 and its left half wrapped to the end, and transforms it.
  template <typename Sample>
  void run(Sample&& sample) {
    double* xw = fft_w_.input();
    double* xd = fft_d_.input();
    double* xt = fft_t_.input();
    const auto put = [&](std::size_t i, std::size_t n) {
      const double x = sample(n);
      xw[i] = x * w_[n];
      xd[i] = x * dw_[n];
      xt[i] = xw[i] * (static_cast<double>(n) - static_cast<double>(half_));
    };
    wrapped(put);
    fft_w_.run();
    fft_d_.run();
    fft_t_.run();
    x_ = fft_w_.output();
  }

  /// As run(), the transform through the window alone, into `out` (a block that
  /// new_window_output() gave, which X() then shows); D and T are left as they were.
  template <typename Sample>
  void run_window_into(Sample&& sample, std::complex<double>* out) {
    double* xw = fft_w_.input();
    wrapped([&](std::size_t i, std::size_t n) { xw[i] = sample(n) * w_[n]; });
    fft_w_.run_into(out);
    x_ = out;
  }
  /// A block for a frame's X, for run_window_into; freed with the transform.
  std::complex<double>* new_window_output() { return fft_w_.new_output(); }
  /// As run() for a frame whose X run_window_into left in `kept`: D and T alone are
  /// transformed, to the same values as run() gives, and X() shows `kept`.
  template <typename Sample>
  void run_rest(Sample&& sample, const std::complex<double>* kept) {
    double* xd = fft_d_.input();
    double* xt = fft_t_.input();
    const auto put = [&](std::size_t i, std::size_t n) {
      const double x = sample(n);
      xd[i] = x * dw_[n];
      xt[i] = x * w_[n] * (static_cast<double>(n) - static_cast<double>(half_));
    };
    wrapped(put);
    fft_d_.run();
    fft_t_.run();
    x_ = kept;
  }

  /// The frame's transforms through the window (X), its derivative (D) and the time-weighted
  /// window (T), bins 0 to size() / 2.
  const std::complex<double>* X() const { return x_; }
  const std::complex<double>* D() const { return fft_d_.output(); }
  const std::complex<double>* T() const { return fft_t_.output(); }

  /// Where, in seconds from the window's centre, a sinusoid that starts there (and goes on
  /// past the window) begins when the centre of its energy seen through the window lies
  /// `offset` seconds from the centre; a sinusoid that stops at -onset(-offset) has its
  /// energy's centre at `offset` too, the window being symmetric.
  double onset(double offset) const;
  /// The share of the window's sum from `onset` seconds from its centre to its end (or,
  /// the window being symmetric, from its start to -onset).
  double seen_after(double onset) const;

  /// The window's transform at `delta` radians a sample from its centre frequency (real, as
  /// the window is symmetric): a sine of amplitude A shows A |response(delta)| / 2 there.
  double response(double delta) const;


 private:
  // put(i, n) for each sample n of the window and its place i in the transforms' input:
  // (n + N - half) mod N, the half before the centre to the end of the input, the rest to its
  // start. The padding between them stays zero from the start (the transforms leave their
  // inputs as they are).
  template <typename Put>
  void wrapped(Put&& put) const {
    for (std::size_t n = 0; n < half_; ++n) put(N_ - half_ + n, n);
    for (std::size_t n = half_; n < L_; ++n) put(n - half_, n);
  }

  std::size_t L_, half_, N_;
  std::vector<double> w_, dw_;
  // From sample n to the window's end: the window's energy, its sum, and its first moment
  // (in seconds).
  std::vector<double> energy_after_, sum_after_, moment_after_;
  double rate_;
  double energy_ = 0, spread_ = 0, gain_ = 0, bend_ = 0;
  RealFft fft_w_, fft_d_, fft_t_;
  const std::complex<double>* x_;  // X: fft_w_'s output, or a block run_window_into filled
};

}  // namespace zarn

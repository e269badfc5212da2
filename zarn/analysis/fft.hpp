// The discrete Fourier transform of real signals, through FFTW where the build has it: one
// plan per size, made once and reused for every frame.
#pragma once

#include <complex>
#include <cstddef>
#include <memory>
#include <vector>

namespace zarn {

/// The transform of n real values into n / 2 + 1 complex ones, unnormalised:
/// X[k] = sum over j of x[j] e^{-2 pi i j k / n}.
class RealFft {
 public:
  /// A transform of size n (even). Throws Failure where the build has no FFTW.
  explicit RealFft(std::size_t n);
  ~RealFft();
  RealFft(const RealFft&) = delete;
  RealFft& operator=(const RealFft&) = delete;

  /// The n real values to transform; written by the caller, and left as they are.
  double* input() { return in_; }
  const double* input() const { return in_; }
  /// Transforms input() into output().
  void run();
  /// A block for n / 2 + 1 results, aligned as output() is, for run_into; freed with the
  /// transform.
  std::complex<double>* new_output();
  /// Transforms input() into `out`, a block that new_output() gave.
  void run_into(std::complex<double>* out);
  /// The n / 2 + 1 results of the last run, or as the caller put them back.
  const std::complex<double>* output() const { return out_; }
  std::complex<double>* output() { return out_; }

 private:
  std::size_t n_ = 0;
  double* in_ = nullptr;
  std::complex<double>* out_ = nullptr;
  void* plan_ = nullptr;
  std::vector<void*> blocks_;  // from new_output()
};

}  // namespace zarn

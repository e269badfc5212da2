#include "analysis/fft.hpp"

#include <mutex>

#include "model/failure.hpp"

#ifdef ZARN_HAVE_FFTW
#include <fftw3.h>
#endif

namespace zarn {

#ifdef ZARN_HAVE_FFTW

namespace {

// FFTW's planner is not safe in several threads at once; the transforms themselves are.
std::mutex& planner() {
  static std::mutex m;
  return m;
}

}  // namespace

RealFft::RealFft(std::size_t n) : n_(n) {
  in_ = static_cast<double*>(fftw_malloc(sizeof(double) * n));
  out_ = static_cast<std::complex<double>*>(fftw_malloc(sizeof(fftw_complex) * (n / 2 + 1)));
  if (in_ == nullptr || out_ == nullptr) {
    fftw_free(in_);
    fftw_free(out_);
    throw std::bad_alloc();
  }
  std::lock_guard<std::mutex> lock(planner());
  plan_ = fftw_plan_dft_r2c_1d(static_cast<int>(n), in_, reinterpret_cast<fftw_complex*>(out_), FFTW_ESTIMATE);
}

RealFft::~RealFft() {
  {
    std::lock_guard<std::mutex> lock(planner());
    fftw_destroy_plan(static_cast<fftw_plan>(plan_));
  }
  fftw_free(in_);
  fftw_free(out_);
  for (void* b : blocks_) fftw_free(b);
}

void RealFft::run() { fftw_execute(static_cast<fftw_plan>(plan_)); }

std::complex<double>* RealFft::new_output() {
  // fftw_malloc aligns every block alike, as the plan's own arrays, which a plan executed on
  // other arrays needs.
  void* b = fftw_malloc(sizeof(fftw_complex) * (n_ / 2 + 1));
  if (b == nullptr) throw std::bad_alloc();
  blocks_.push_back(b);
  return static_cast<std::complex<double>*>(b);
}

void RealFft::run_into(std::complex<double>* out) {
  fftw_execute_dft_r2c(static_cast<fftw_plan>(plan_), in_, reinterpret_cast<fftw_complex*>(out));
}

#else

RealFft::RealFft(std::size_t n) {
  throw failure("this build of zarn cannot analyse sound: FFTW was not found when it was built");
}
RealFft::~RealFft() = default;
void RealFft::run() {}
std::complex<double>* RealFft::new_output() { return nullptr; }
void RealFft::run_into(std::complex<double>*) {}

#endif

}  // namespace zarn

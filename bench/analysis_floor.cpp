// The analysis beside its floor: the three transforms a frame of the analysis makes (through
// the window, its derivative and the time-weighted window), of the same size and at the same
// hop, with nothing else. Both on the same harmonic tone, in CPU time of this process, so that
// the ratio is measured in one run.
//
// usage: zarn_analysis_floor [SECONDS [RUNS]]    (defaults: 600 3)
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "analysis/analysis.hpp"
#include "analysis/fft.hpp"

namespace {

double cpu_seconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// A tone of 20 harmonics of 220 Hz, each 6 dB under the last, with a slow vibrato and a
// level that breathes: partials that the tracker follows all the way through.
std::vector<double> harmonic_tone(double seconds, double rate) {
  std::vector<double> s(static_cast<std::size_t>(seconds * rate));
  const double pi = 3.14159265358979323846;
  double phase = 0;
  for (std::size_t n = 0; n < s.size(); ++n) {
    const double t = static_cast<double>(n) / rate;
    const double f0 = 220 * (1 + 0.005 * std::sin(2 * pi * 5 * t));
    phase += 2 * pi * f0 / rate;
    const double level = 0.3 * (0.75 + 0.25 * std::sin(2 * pi * 0.2 * t));
    double x = 0, a = level;
    for (int k = 1; k <= 20; ++k, a *= 0.5) x += a * std::sin(k * phase);
    s[n] = x;
  }
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 600.0;
  const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
  const double rate = 44100;
  const std::vector<double> tone = harmonic_tone(seconds, rate);
  const zarn::AnalysisOptions options;
  double analysis = 1e300, floor = 1e300;
  std::size_t partials = 0, frames = 0, size = 0;
  for (int r = 0; r < runs; ++r) {
    double t0 = cpu_seconds();
    zarn::Analyser a(rate, options);
    a.add(tone.data(), tone.size());
    const zarn::PartialSet found = a.finish();
    analysis = std::min(analysis, cpu_seconds() - t0);
    partials = found.P();
    // The floor: as many frames, each three real transforms of the analysis's size, their
    // inputs written from the sound (windowing left out).
    const std::size_t L = a.window(), H = a.hop();
    size = 1;
    while (size < L) size *= 2;
    t0 = cpu_seconds();
    zarn::RealFft w(size), d(size), t(size);
    frames = 0;
    double sink = 0;
    for (std::size_t centre = 0; centre < tone.size() + H; centre += H, ++frames) {
      const std::size_t from = centre >= L / 2 ? centre - L / 2 : 0;
      const std::size_t n = std::min(size, tone.size() - std::min(tone.size(), from));
      for (zarn::RealFft* f : {&w, &d, &t}) {
        std::copy(tone.begin() + static_cast<long>(std::min(tone.size(), from)), tone.begin() + static_cast<long>(std::min(tone.size(), from) + n), f->input());
        std::fill(f->input() + n, f->input() + size, 0.0);
        f->run();
        sink += f->output()[1].real();
      }
    }
    floor = std::min(floor, cpu_seconds() - t0);
    if (sink == 12345.678) std::puts("");
  }
  std::printf("sound                %.0f s harmonic tone at %.0f Hz, %zu frames of %zu, %zu partials\n", seconds, rate, frames, size, partials);
  std::printf("analysis             %.3f s CPU (best of %d)\n", analysis, runs);
  std::printf("floor (3 FFTs/frame) %.3f s CPU\n", floor);
  std::printf("ratio                %.2f\n", analysis / floor);
}

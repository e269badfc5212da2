#include "generated_analysis.hpp"

#include <cmath>
#include <cstdio>
#include <random>

#include "formats/formats.hpp"
#include "io/output.hpp"
#include "fit/resample.hpp"

namespace zarn_bench {

std::string make_analysis(long partials, std::uint64_t seed, double span) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const double kPi = 3.14159265358979323846;
  std::string text;
  char line[96];
  std::snprintf(line, sizeof line, "( PARTIALS\t%ld\n", partials);
  text += line;
  for (long p = 0; p < partials; ++p) {
    // Lengths spread evenly on a log scale from 4 to 2000 (a mean of about 320).
    const int count = static_cast<int>(std::exp(std::log(4.0) + unit(rng) * std::log(2000.0 / 4.0)));
    const double start = unit(rng) * span;
    const double f0 = 40.0 * std::pow(400.0, unit(rng));  // 40 Hz to 16 kHz
    const double glide = (unit(rng) - 0.5) * 0.2;         // up to 10 % over the partial
    const double vibrato_rate = 4.5 + 2.0 * unit(rng);
    const double vibrato_depth = 0.006 * unit(rng);
    const double peak_db = -10.0 - 60.0 * unit(rng);
    std::snprintf(line, sizeof line, "( POINTS\t%d\n", count);
    text += line;
    double t = start;
    for (int i = 0; i < count; ++i) {
      const double x = count > 1 ? static_cast<double>(i) / (count - 1) : 0.0;
      const double vibrato = 1.0 + vibrato_depth * std::sin(2.0 * kPi * vibrato_rate * (t - start));
      const double f = f0 * (1.0 + glide * x) * vibrato + (unit(rng) - 0.5) * 0.4;
      const double fade = std::fmin(1.0, std::fmin((i + 1) / 8.0, (count - i) / 12.0));
      const double db = peak_db + 20.0 * std::log10(fade) + (unit(rng) - 0.5) * 1.5;
      std::snprintf(line, sizeof line, "%9.3f\t%9.3f\t%9.3f\n", t, f, db);
      text += line;
      t += 0.0058 * (0.8 + 0.4 * unit(rng));
    }
    text += ")\n";
  }
  text += ")\n";
  return text;
}

std::string framed(const std::string& list_text, const std::string& format) {
  zarn::PartialSet read = zarn::read_input(list_text, "analysis");
  const zarn::ResampledSet set =
      zarn::resample_releasing(read, zarn::plan_grid(read, 0.0058, zarn::GridKind::kAligned, "analysis"));
  std::string bytes;
  zarn::Output out(&bytes);
  zarn::result_writer(set, format == "sdif" ? zarn::Format::kSdif : zarn::Format::kList, {"make_analysis"})(out);
  out.flush();
  return bytes;
}

}  // namespace zarn_bench

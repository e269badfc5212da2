#include "edit/noise_gain.hpp"

#include <cmath>

#include "model/failure.hpp"

namespace zarn {

void change_noise(PartialSet& set, const NoiseOptions& options, const std::string& file) {
  if (!options.any()) return;
  const double factor = std::pow(10.0, options.gain / 10.0);
  for (double& p : set.noise.power) {
    const double changed = p * factor;
    if (std::isfinite(p) && !std::isfinite(changed)) throw Failure(compose(file + ": after --noise-gain the noise's power is not finite"));
    p = changed;
  }
}

}  // namespace zarn

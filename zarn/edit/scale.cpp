#include "edit/scale.hpp"

#include <cmath>

#include "model/failure.hpp"

namespace zarn {

std::string time_scale_problem(double factor) {
  if (!std::isfinite(factor) || !(factor > 0)) return "the time factor must be a finite number above zero";
  return {};
}

void scale(PartialSet& set, const ScaleOptions& options, const std::string& file) {
  if (!options.any()) return;
  const double ratio = std::pow(2.0, options.cents / 1200.0);
  const double gain = std::pow(10.0, options.gain / 20.0);
  for (Partial& part : set.partials) {
    for (std::size_t i = 0; i < part.time.size(); ++i) {
      const double t = part.time[i] * options.time, f = part.freq[i] * ratio, a = part.amp[i] * gain;
      // What the change made of a finite value must be finite too, and times must still rise.
      if (!std::isfinite(t) || (i > 0 && !(t > part.time[i - 1])))
        throw failure_at(set, part, file, "after --time-scale the times of this partial are not finite or no longer rise");
      if ((std::isfinite(part.freq[i]) && !std::isfinite(f)) || (std::isfinite(part.amp[i]) && !std::isfinite(a)))
        throw failure_at(set, part, file, "after --transpose or --gain a frequency or amplitude of this partial is not finite");
      if (part.freq[i] > 0 && !(f > 0)) throw failure_at(set, part, file, "after --transpose a frequency of this partial is 0 Hz, which no format holds");
      part.time[i] = t;
      part.freq[i] = f;
      part.amp[i] = a;
    }
    // A gain keeps the phases measured; a new time or pitch makes them anew.
    if (options.time != 1.0 || options.cents != 0.0) phase_from_frequencies(part);
  }
  // A sound analysed lasts as much longer, so that its resynthesis is not cut at its old length.
  if (options.time != 1.0 && set.samples > 0) set.samples = std::llround(static_cast<double>(set.samples) * options.time);
  // The noise stretches with the time and takes the gain (as power); a band of noise is no
  // pitch, and a transposition leaves it.
  for (double& t : set.noise.times) {
    t *= options.time;
    if (!std::isfinite(t)) throw Failure(compose(file + ": after --time-scale the noise's times are not finite"));
  }
  for (double& p : set.noise.power) {
    const double changed = p * gain * gain;
    if (std::isfinite(p) && !std::isfinite(changed)) throw Failure(compose(file + ": after --gain the noise's power is not finite"));
    p = changed;
  }
}

}  // namespace zarn

#include "render/info.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace zarn {

Info info_of(const PartialSet& set, double step) {
  Info info;
  info.partials = set.P();
  const double inf = std::numeric_limits<double>::infinity();
  double t_lo = inf, t_hi = -inf, f_lo = inf, f_hi = -inf, a_lo = inf, a_hi = -inf, shortest = inf, longest = -inf;
  for (std::size_t p = 0; p < set.partials.size(); ++p) {
    const Partial& part = set.partials[p];
    info.breakpoints += part.M();
    if (part.M() == 0) continue;
    t_lo = std::min(t_lo, part.time.front());
    t_hi = std::max(t_hi, part.time.back());
    for (std::size_t i = 0; i < part.time.size(); ++i) {
      if (std::isfinite(part.freq[i])) f_lo = std::min(f_lo, part.freq[i]), f_hi = std::max(f_hi, part.freq[i]);
      a_lo = std::min(a_lo, part.amp[i]), a_hi = std::max(a_hi, part.amp[i]);
    }
    const double span = part.time.back() - part.time.front();
    if (span < shortest) shortest = span, info.shortest_at = static_cast<int>(p) + 1;
    if (span > longest) longest = span, info.longest_at = static_cast<int>(p) + 1;
    if (span < step) ++info.shorter_than_step;
  }
  if (info.breakpoints > 0) {
    info.time_lo = t_lo, info.time_hi = t_hi, info.shortest = shortest, info.longest = longest;
    info.freq_lo = f_lo, info.freq_hi = f_hi;
    info.level_lo = amp2db(a_lo), info.level_hi = amp2db(a_hi);
  }
  return info;
}

namespace {

// A figure as "%.6g" writes it, or with one decimal.
std::string figure(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%.6g", v);
  return text;
}

std::string decibels(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%.1f", v);
  return text;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> info_lines(const std::string& input, const PartialSet& set, const Info& info,
                                                            double step) {
  std::vector<std::pair<std::string, std::string>> lines = {{"Input File", "'" + input + "'"}, {"Format", set.format}};
  lines.insert(lines.end(), set.about.begin(), set.about.end());
  lines.push_back({"Partials", std::to_string(info.partials)});
  lines.push_back({"Breakpoints", std::to_string(info.breakpoints)});
  if (!set.noise.empty()) {
    // The noise's level: each frame's power over all bands, in dB of full scale.
    const Noise& n = set.noise;
    double lo = INFINITY, hi = -INFINITY;
    for (std::size_t j = 0; j < n.times.size(); ++j) {
      double sum = 0;
      for (std::size_t b = 0; b < n.bands(); ++b) sum += n.frame(j)[b];
      lo = std::min(lo, sum), hi = std::max(hi, sum);
    }
    const auto level = [](double power) { return power > 0 ? decibels(10 * std::log10(power)) : std::string("silence"); };
    lines.push_back({"Noise", std::to_string(n.bands()) + " bands from " + figure(n.edges.front()) + " to " + figure(n.edges.back()) +
                                  " Hz, " + std::to_string(n.times.size()) + " frames, " + level(lo) + " to " + level(hi) + " dB"});
  }
  if (info.breakpoints == 0) {
    if (!set.passed_over.empty()) lines.push_back({"Nothing read", set.passed_over});
    return lines;
  }
  lines.push_back({"Time span", figure(info.time_lo) + " to " + figure(info.time_hi)});
  lines.push_back({"Frequency range", figure(info.freq_lo) + " to " + figure(info.freq_hi) + " Hz"});
  lines.push_back({"Level range", decibels(info.level_lo) + " to " + decibels(info.level_hi) + " dB"});
  lines.push_back({"Shortest partial", figure(info.shortest) + " (partial " + std::to_string(info.shortest_at) + ")"});
  lines.push_back({"Longest partial", figure(info.longest) + " (partial " + std::to_string(info.longest_at) + ")"});
  lines.push_back({"Shorter than " + figure(step), std::to_string(info.shorter_than_step) + " partials"});
  return lines;
}

void write_info(Output& out, const std::vector<std::pair<std::string, std::string>>& lines) {
  std::size_t width = 0;
  for (const auto& line : lines) width = std::max(width, line.first.size());
  for (const auto& [name, value] : lines) {
    out.put(name);
    out.put(std::string(width - name.size(), ' '));
    out.put(" : ");
    out.put(value);
    out.put('\n');
  }
}

}  // namespace zarn

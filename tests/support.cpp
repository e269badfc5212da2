#include "support.hpp"

#include <cmath>
#include <cstring>

#include "model/failure.hpp"
#include "formats/formats.hpp"

namespace zarn_test {

zarn::Options parse(std::vector<std::string> args) {
  args.insert(args.begin(), "zarn");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  return zarn::parse_options(static_cast<int>(args.size()), argv.data());
}

std::vector<double> tone(double rate, double seconds, const std::vector<std::pair<std::function<double(double)>, double>>& partials) {
  constexpr double kPi = 3.14159265358979323846;
  std::vector<double> x(static_cast<std::size_t>(rate * seconds), 0.0);
  for (const auto& [freq, amp] : partials) {
    double phase = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
      if (i > 0) phase += 2 * kPi * freq((static_cast<double>(i) - 0.5) / rate) / rate;
      x[i] += amp * std::sin(phase);
    }
  }
  return x;
}

std::uint64_t bits(double v) {
  std::uint64_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

std::string rejection(const std::string& bytes, const std::string& name) { return rejection_with(bytes, name, {}); }

std::string rejection_with(const std::string& bytes, const std::string& name, const zarn::ReadOptions& options) {
  try {
    zarn::read_input(bytes, name, options);
  } catch (const zarn::Failure& f) {
    return f.message;
  }
  return "accepted";
}

std::vector<std::vector<double>> points(const zarn::Partial& part) {
  std::vector<std::vector<double>> out;
  for (std::size_t i = 0; i < part.time.size(); ++i) out.push_back({part.time[i], part.freq[i], part.amp[i]});
  return out;
}

zarn::ResampledSet lay_grid(const zarn::PartialSet& set, double step, const std::string& file) {
  return zarn::lay_planned(set, zarn::plan_grid(set, step, zarn::GridKind::kOwn, file));
}

zarn::ResampledSet lay_whole_grid(const zarn::PartialSet& set, double step, const std::string& file) {
  return zarn::lay_planned(set, zarn::plan_grid(set, step, zarn::GridKind::kWhole, file));
}

zarn::ResampledSet lay_aligned_grid(const zarn::PartialSet& set, double step, const std::string& file) {
  return zarn::lay_planned(set, zarn::plan_grid(set, step, zarn::GridKind::kAligned, file));
}

}  // namespace zarn_test

#include "edit/curve.hpp"

#include <algorithm>
#include <cmath>

#include "io/number_parse.hpp"

namespace zarn {

double Curve::at(double time) const {
  if (times.empty()) return 0.0;
  if (!(time > times.front())) return values.front();
  if (!(time < times.back())) return values.back();
  const std::size_t after = static_cast<std::size_t>(std::upper_bound(times.begin(), times.end(), time) - times.begin());
  const std::size_t before = after - 1;
  return values[before] + (time - times[before]) / (times[after] - times[before]) * (values[after] - values[before]);
}

bool Curve::constant() const {
  return std::all_of(values.begin(), values.end(), [&](double v) { return v == values.front(); });
}

std::string any_value(double, const double*) { return {}; }

std::string above_zero(double value, const double*) { return value > 0 ? std::string() : "the value must be above zero"; }

std::string rising_value(double value, const double* previous) {
  return previous == nullptr || value > *previous ? std::string() : "the output times must rise";
}

bool is_curve_text(std::string_view text) { return !text.empty() && (text.front() == '@' || text.find(':') != std::string_view::npos); }

namespace {

// One breakpoint's text split at `separator` (a colon, or from a file white space) into two
// finite numbers; what is wrong with it otherwise.
std::string read_pair(std::string_view item, bool in_file, double& t, double& v) {
  std::size_t cut, rest;
  if (in_file) {
    cut = item.find_first_of(" \t");
    rest = cut == std::string_view::npos ? cut : item.find_first_not_of(" \t", cut);
  } else {
    cut = item.find(':');
    rest = cut == std::string_view::npos ? cut : cut + 1;
  }
  if (cut == std::string_view::npos || rest == std::string_view::npos)
    return in_file ? "each line must hold a time and a value" : "each breakpoint must be TIME:VALUE";
  if (!parse_double(item.substr(0, cut), t) || !std::isfinite(t)) return "the time is not a finite number";
  if (!parse_double(item.substr(rest), v) || !std::isfinite(v)) return "the value is not a finite number";
  return {};
}

std::string_view trimmed(std::string_view s) {
  const std::size_t a = s.find_first_not_of(" \t\r"), b = s.find_last_not_of(" \t\r");
  return a == std::string_view::npos ? std::string_view() : s.substr(a, b - a + 1);
}

}  // namespace

Curve parse_curve(std::string_view text, bool in_file, ValueRule rule, std::string& problem) {
  Curve curve;
  const char separator = in_file ? '\n' : ',';
  long line = 0;
  for (std::size_t at = 0; at <= text.size();) {
    std::size_t end = text.find(separator, at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view item = text.substr(at, end - at);
    at = end + 1;
    ++line;
    if (in_file) {
      item = trimmed(item.substr(0, item.find('#')));
      if (item.empty()) continue;
    }
    const std::string where = (in_file ? std::to_string(line) + ": " : std::string()) + "breakpoint " +
                              std::to_string(curve.times.size() + 1) + " '" + std::string(item) + "': ";
    double t = 0, v = 0;
    std::string fault = read_pair(item, in_file, t, v);
    if (fault.empty() && !curve.times.empty() && !(t > curve.times.back())) fault = "the times must rise";
    if (fault.empty()) fault = rule(v, curve.values.empty() ? nullptr : &curve.values.back());
    if (!fault.empty()) {
      problem = where + fault;
      return {};
    }
    curve.times.push_back(t);
    curve.values.push_back(v);
  }
  if (curve.times.empty()) problem = in_file ? "the file holds no breakpoint" : "no breakpoint given";
  return curve;
}

}  // namespace zarn

#include "render/markup.hpp"

#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zarn {

namespace detail {

std::vector<double> linear_ticks(double lo, double hi, int target) {
  std::vector<double> ticks;
  if (!(hi > lo) || target < 1) return ticks;
  const double raw = (hi - lo) / target;
  const double unit = std::pow(10.0, std::floor(std::log10(raw)));
  double step = unit;
  for (double m : {2.0, 5.0, 10.0})
    if (raw > step) step = m * unit;
  // Ticks are counted in whole steps, with a tolerance relative to the range, so that their
  // number is bounded whatever the values: far from zero, where whole steps can no longer
  // be told apart in a double, there are none.
  const double first = std::ceil(lo / step), last = std::floor((hi + (hi - lo) * 1e-9) / step);
  constexpr double kExactWhole = 4503599627370496.0;  // 2^52
  if (!(last >= first) || !(std::fabs(first) < kExactWhole && std::fabs(last) < kExactWhole)) return ticks;
  const long long count = static_cast<long long>(last - first) + 1;
  if (count > 4LL * target + 4) return ticks;
  for (long long i = 0; i < count; ++i) {
    const double k = first + static_cast<double>(i);
    ticks.push_back(k * step == 0 ? 0.0 : k * step);
  }
  return ticks;
}

std::size_t utf8_length(std::string_view s) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char c = byte(0);
  std::size_t n = 0;
  unsigned min_second = 0x80, max_second = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) n = 2;
  else if (c >= 0xE0 && c <= 0xEF) n = 3, min_second = c == 0xE0 ? 0xA0 : 0x80, max_second = c == 0xED ? 0x9F : 0xBF;
  else if (c >= 0xF0 && c <= 0xF4) n = 4, min_second = c == 0xF0 ? 0x90 : 0x80, max_second = c == 0xF4 ? 0x8F : 0xBF;
  else return 0;
  if (s.size() < n || byte(1) < min_second || byte(1) > max_second) return 0;
  for (std::size_t i = 2; i < n; ++i)
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  return n;
}

std::vector<double> log_ticks(double lo, double hi) {
  std::vector<double> ticks;
  if (!(lo > 0) || !std::isfinite(hi)) return linear_ticks(lo, hi, 6);
  // Each decade is ten times the last, so the loop ends after at most ~630 of them; one that
  // does not grow (a denormal start) ends it too.
  for (double decade = std::pow(10.0, std::floor(std::log10(lo))); decade <= hi && decade > 0; decade *= 10)
    for (double m : {1.0, 2.0, 5.0})
      if (m * decade >= lo && m * decade <= hi) ticks.push_back(m * decade);
  if (ticks.size() < 3) return linear_ticks(lo, hi, 6);
  return ticks;
}

std::string xml_escape(std::string_view text) {
  // XML takes neither control bytes nor broken UTF-8: each such byte becomes U+FFFD.
  constexpr const char* kReplacement = "\xEF\xBF\xBD";
  std::string e;
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    switch (c) {
      case '&': e += "&amp;"; ++i; continue;
      case '<': e += "&lt;"; ++i; continue;
      case '>': e += "&gt;"; ++i; continue;
      case '"': e += "&quot;"; ++i; continue;
      default: break;
    }
    if (c >= 0x20 && c < 0x7f) {
      e += static_cast<char>(c);
      ++i;
      continue;
    }
    const std::size_t length = utf8_length(text.substr(i));
    if (length == 0) {
      e += kReplacement;
      ++i;
    } else {
      e.append(text.substr(i, length));
      i += length;
    }
  }
  return e;
}

}  // namespace detail

}  // namespace zarn

#include "io/number_parse.hpp"

#include <charconv>
#include <climits>
#include <cstdlib>
#include <string>

namespace zarn {

namespace {

// Whitespace separates tokens: space, tab, newline, vertical tab, form feed, carriage return.
inline bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

// "[-]digits[.digits]" of any length (see parse_short_plain_decimal for the short ones), with
// at most 19 significant digits worth at most 2^53, at most 22 of them after the point.
bool parse_long_plain_decimal(const char* p, const char* end, double& value) {
  const bool negative = p < end && *p == '-';
  if (negative) ++p;
  std::uint64_t mantissa = 0;
  int significant = 0, after_point = 0;
  bool point = false, any_digit = false;
  for (; p < end; ++p) {
    const char c = *p;
    if (is_digit(c)) {
      any_digit = true;
      if (mantissa != 0 || c != '0') ++significant;
      if (significant > 19) return false;
      mantissa = mantissa * 10 + static_cast<std::uint64_t>(c - '0');
      if (point) ++after_point;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  if (!any_digit || mantissa > (std::uint64_t{1} << 53) || after_point > 22) return false;
  const double v = static_cast<double>(mantissa) / detail::kPow10[after_point];
  value = negative ? -v : v;
  return true;
}

}  // namespace

namespace detail {

bool parse_double_slow(std::string_view token, double& value) {
  if (token.empty() || is_space(token.front())) return false;
  const char* begin = token.data();
  const char* end = begin + token.size();
  if (parse_long_plain_decimal(begin, end, value)) return true;
  // Other decimal text goes to from_chars: both conversions round correctly, so they agree
  // on it. Signs written '+', hexadecimal, infinities, NaNs and values out of range go to
  // strtod itself, whose syntax and results are the reference.
  const char first = token.front();
  const char last = token.back();
  if ((is_digit(first) || first == '-' || first == '.') && (is_digit(last) || last == '.')) {
    double v;
    auto [ptr, ec] = std::from_chars(begin, end, v);
    if (ec == std::errc() && ptr == end) {
      value = v;
      return true;
    }
  }
  const std::string text(token);  // strtod needs a terminated string
  char* stop = nullptr;
  const double v = std::strtod(text.c_str(), &stop);
  // A NUL inside the token stops strtod short and so fails the test below.
  if (stop != text.c_str() + text.size()) return false;
  value = v;
  return true;
}

}  // namespace detail

bool parse_count(std::string_view token, int& value) {
  std::size_t i = 0;
  bool negative = false;
  if (i < token.size() && (token[i] == '+' || token[i] == '-')) negative = token[i++] == '-';
  if (i == token.size()) return false;
  long long v = 0;
  for (; i < token.size(); ++i) {
    if (!is_digit(token[i])) return false;
    v = v * 10 + (token[i] - '0');
    if (v > INT_MAX) return false;
  }
  if (negative && v != 0) return false;
  value = static_cast<int>(v);
  return true;
}

}  // namespace zarn

// Numbers as text files give them: a whole token as a double (with strtod's syntax, correctly
// rounded) or as a count. Short plain decimals, nearly every number of an analysis, are read
// by an inline fast path that the token reader also uses in its one-pass read.
#pragma once

#include <cstdint>
#include <string_view>

namespace zarn {

namespace detail {

/// Powers of ten up to 1e22: every one is a double without rounding.
inline constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                    1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

/// Reads "[-]digits[.digits]" from p, stopping at the first byte that does not fit; returns
/// where it stopped. When what it read holds at most 19 characters after the sign (so at most
/// 19 digits) with a digit among them, worth at most 2^53, `value` is set: the digits and the
/// power of ten are exact doubles, and the one division rounds correctly, to the double that
/// strtod gives. Otherwise `found` is false and `value` untouched.
inline const char* scan_plain_decimal(const char* p, const char* end, bool& found, double& value) {
  const bool negative = p < end && *p == '-';
  if (negative) ++p;
  const char* q = p;
  std::uint64_t mantissa = 0;  // may wrap for long texts, which are refused below
  for (; q < end && static_cast<unsigned>(*q - '0') < 10; ++q) mantissa = mantissa * 10 + static_cast<std::uint64_t>(*q - '0');
  int after_point = 0;
  const bool point = q < end && *q == '.';
  if (point) {
    const char* fraction = ++q;
    for (; q < end && static_cast<unsigned>(*q - '0') < 10; ++q) mantissa = mantissa * 10 + static_cast<std::uint64_t>(*q - '0');
    after_point = static_cast<int>(q - fraction);
  }
  const std::ptrdiff_t length = q - p;
  found = length <= 19 && length > (point ? 1 : 0) && mantissa <= (std::uint64_t{1} << 53);
  if (found) {
    // At most 2^53, so converted exactly, and as a signed integer, which is one instruction.
    const double v = static_cast<double>(static_cast<std::int64_t>(mantissa)) / kPow10[after_point];
    value = negative ? -v : v;
  }
  return q;
}

/// A whole token that scan_plain_decimal reads and finds; false for any other text.
inline bool parse_short_plain_decimal(const char* p, const char* end, double& value) {
  bool found = false;
  return scan_plain_decimal(p, end, found, value) == end && found;
}

/// parse_double for every other token: long decimals, from_chars, and strtod as the reference.
bool parse_double_slow(std::string_view token, double& value);

}  // namespace detail

/// Parses a whole token as a double with strtod's syntax in the C locale; false if any of it is not a number.
inline bool parse_double(std::string_view token, double& value) {
  if (detail::parse_short_plain_decimal(token.data(), token.data() + token.size(), value)) return true;
  return detail::parse_double_slow(token, value);
}

/// Parses a whole token as a count: decimal digits with an optional sign, from 0 to INT_MAX.
bool parse_count(std::string_view token, int& value);

}  // namespace zarn

// Numbers written as printf's "%.*f" would write them, exactly, straight into a buffer: the
// figures of the files and the listing. The common cases (3 and 6 decimals) are inline.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace zarn {

namespace detail {

// Pairs of decimal digits, "00" to "99", for writing two digits at a time.
struct DigitPairs {
  char text[200];
  constexpr DigitPairs() : text() {
    for (int i = 0; i < 100; ++i) {
      text[2 * i] = static_cast<char>('0' + i / 10);
      text[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
  }
};
inline constexpr DigitPairs kDigitPairs;

// The number of decimal digits of n.
inline int decimal_length(std::uint64_t n) {
  int len = 1;
  for (std::uint64_t bound = 10; n >= bound && len < 19; bound *= 10) ++len;
  return len;
}

// Writes the `len` lowest decimal digits of n so that they end just before `end`.
inline void put_digits(char* end, std::uint64_t n, int len) {
  for (; len >= 2; len -= 2, n /= 100) {
    end -= 2;
    std::memcpy(end, kDigitPairs.text + 2 * (n % 100), 2);
  }
  if (len > 0) end[-1] = static_cast<char>('0' + n % 10);
}

// The fast path below for a number of decimals known when compiling (3 and 6, the ones the
// files and the listing use), right-aligned in `width` (at most 16): the same rounding, with
// the digits written two at a time and the divisions by a constant.
template <int kDecimals>
inline char* format_fixed_exact(char* out, double v, int width) {
  constexpr std::uint64_t kUnit = kDecimals == 3 ? 1000 : 1000000;
  static_assert(kDecimals == 3 || kDecimals == 6, "3 or 6 decimals");
  if (width > 16) return nullptr;
  const double w = std::fabs(v) * static_cast<double>(kUnit);
  if (!(w < 1e14)) return nullptr;
  // Truncation is the floor here (w >= 0), and w < 2^63 converts as a signed integer.
  const auto whole = static_cast<std::uint64_t>(static_cast<std::int64_t>(w));
  const double fraction = w - static_cast<double>(static_cast<std::int64_t>(whole));  // exact
  if (fraction == 0.5) return nullptr;
  const std::uint64_t rounded = whole + (fraction > 0.5 ? 1 : 0);
  const std::uint64_t int_part = rounded / kUnit, frac_part = rounded % kUnit;
  const bool negative = std::signbit(v);
  const int int_len = decimal_length(int_part);
  const int len = (negative ? 1 : 0) + int_len + 1 + kDecimals;
  if (len < width) {  // as printf pads; there is room for 16 (kMaxFixedChars)
    std::memcpy(out, "                ", 16);
    out += width - len;
  }
  if (negative) *out++ = '-';
  out += int_len;
  put_digits(out, int_part, int_len);
  *out++ = '.';
  out += kDecimals;
  put_digits(out, frac_part, kDecimals);
  return out;
}


}  // namespace detail

/// Longest text that format_fixed writes (sign, 309 integer digits, point, decimals), with room to spare.
constexpr std::size_t kMaxFixedChars = 400;

/// Writes v as printf's "%.*f" with `decimals` places (at most 20) would, returning the end; no terminator.
char* format_fixed(char* out, double v, int decimals);

}  // namespace zarn

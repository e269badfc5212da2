#include "io/number_format.hpp"

#include <charconv>

#include "io/number_parse.hpp"

namespace zarn {

namespace {

constexpr std::uint64_t kPow10Int[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000, 1000000000};

// The digits of n, most significant first.
inline char* write_digits(char* out, std::uint64_t n) {
  char reversed[20];
  int len = 0;
  do {
    reversed[len++] = static_cast<char>('0' + n % 10);
    n /= 10;
  } while (n != 0);
  while (len > 0) *out++ = reversed[--len];
  return out;
}

// printf's "%.*f" for finite v with at most 9 decimals, when v * 10^decimals is below 1e14;
// nullptr when the answer is not certain this way. Below 2^52 every n + 1/2 is a double, and
// rounding to double is monotonic, so w = |v| * 10^decimals (rounded) lies on the same side
// of each n + 1/2 as the exact product, or on it. Only w exactly on a half is ambiguous (the
// exact product may lie on either side, or be a tie), and only that goes the slow way.
char* format_fixed_fast(char* out, double v, int decimals) {
  const double w = std::fabs(v) * detail::kPow10[decimals];
  if (!(w < 1e14)) return nullptr;
  const double whole = std::floor(w);
  const double fraction = w - whole;  // exact
  if (fraction == 0.5) return nullptr;
  const std::uint64_t rounded = static_cast<std::uint64_t>(whole) + (fraction > 0.5 ? 1 : 0);
  if (std::signbit(v)) *out++ = '-';
  const std::uint64_t unit = kPow10Int[decimals];
  out = write_digits(out, rounded / unit);
  if (decimals > 0) {
    *out++ = '.';
    std::uint64_t part = rounded % unit;
    for (int i = decimals - 1; i >= 0; --i) {
      out[i] = static_cast<char>('0' + part % 10);
      part /= 10;
    }
    out += decimals;
  }
  return out;
}

}  // namespace

char* format_fixed(char* out, double v, int decimals) {
  // glibc spells the non-finite values this way, with the sign bit shown even for NaN.
  if (std::isnan(v) || std::isinf(v)) {
    const char* word = std::isnan(v) ? (std::signbit(v) ? "-nan" : "nan") : (v < 0 ? "-inf" : "inf");
    const std::size_t n = std::strlen(word);
    std::memcpy(out, word, n);
    return out + n;
  }
  char* end = nullptr;
  if (decimals == 6)
    end = detail::format_fixed_exact<6>(out, v, 0);
  else if (decimals == 3)
    end = detail::format_fixed_exact<3>(out, v, 0);
  else if (decimals <= 9)
    end = format_fixed_fast(out, v, decimals);
  if (end != nullptr) return end;
  return std::to_chars(out, out + kMaxFixedChars, v, std::chars_format::fixed, decimals).ptr;
}

}  // namespace zarn

// Buffered token input and buffered formatted output over file descriptors or memory,
// with the number conversions that the partial list file and the console listing use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "failure.hpp"

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

/// Whitespace as a table: 1 for whitespace (space, tab, newline, vertical tab, form feed,
/// carriage return), 2 for a newline, 0 for anything else.
struct SpaceTable {
  unsigned char kind[256];
  constexpr SpaceTable() : kind() {
    for (int c = '\t'; c <= '\r'; ++c) kind[c] = 1;
    kind[static_cast<unsigned char>(' ')] = 1;
    kind[static_cast<unsigned char>('\n')] = 2;
  }
  bool space(char c) const { return kind[static_cast<unsigned char>(c)] != 0; }
};
inline constexpr SpaceTable kSpaces;

/// True on a machine that keeps the lowest byte of a word first.
inline bool little_endian() {
  const std::uint16_t one = 1;
  unsigned char first;
  std::memcpy(&first, &one, 1);
  return first == 1;
}

/// The first whitespace byte in [p, end), or end, eight bytes at a time. Each byte's low seven
/// bits h are tested with additions that cannot carry into the next byte: h + 0x77 reaches
/// the high bit when h >= 9, h + 0x72 when h >= 14, and (h ^ 0x20) + 0x7f when h != ' '.
/// Bytes with their own high bit set are never whitespace.
inline const char* first_space(const char* p, const char* end) {
  constexpr std::uint64_t kOnes = 0x0101010101010101, kHighs = 0x8080808080808080;
  for (; end - p >= 8; p += 8) {
    std::uint64_t x;
    std::memcpy(&x, p, 8);
    const std::uint64_t h = x & ~kHighs;
    const std::uint64_t tab_to_cr = (h + 0x77 * kOnes) & ~(h + 0x72 * kOnes);
    const std::uint64_t blank = ~((h ^ (0x20 * kOnes)) + 0x7f * kOnes);
    const std::uint64_t spaces = (tab_to_cr | blank) & ~x & kHighs;
    if (spaces != 0) return p + (little_endian() ? __builtin_ctzll(spaces) : __builtin_clzll(spaces)) / 8;
  }
  while (p < end && !kSpaces.space(*p)) ++p;
  return p;
}

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

/// Parses a whole token as a double with strtod's syntax in the C locale; false if any of it is not a number.
inline bool parse_double(std::string_view token, double& value) {
  if (detail::parse_short_plain_decimal(token.data(), token.data() + token.size(), value)) return true;
  return detail::parse_double_slow(token, value);
}

/// Parses a whole token as a count: decimal digits with an optional sign, from 0 to INT_MAX.
bool parse_count(std::string_view token, int& value);

/// Longest text that format_fixed writes (sign, 309 integer digits, point, decimals), with room to spare.
constexpr std::size_t kMaxFixedChars = 400;

/// Writes v as printf's "%.*f" with `decimals` places (at most 20) would, returning the end; no terminator.
char* format_fixed(char* out, double v, int decimals);

/// Writes all n bytes to fd, retrying short writes; returns 0 or the errno of the failure.
int write_all(int fd, const char* p, std::size_t n);

/// Quotes a token for an error message: at most 60 bytes shown, unprintable bytes escaped.
std::string quote(std::string_view token);

/// A whitespace-separated token and the line it starts on.
struct Token {
  std::string_view text;  // valid until the next call of Input::next
  long line = 0;
};

/// Splits a file descriptor's bytes, or a block of memory, into tokens, counting lines.
class Input {
 public:
  /// Reads from `fd` (not closed here); `name` is the file's name in messages. `prefix` holds
  /// bytes already read from `fd`, which come first.
  Input(int fd, std::string name, std::string_view prefix = {});
  /// Reads from `bytes`, which must outlive the Input.
  Input(std::string_view bytes, std::string name);

  /// Reads the next token; false at the end of the input.
  bool next(Token& token) {
    // Within the buffer, with whitespace after the token, it is found here; anything else
    // (the buffer's end, a refill) is for next_slow.
    long line = line_;
    const char* p = skip_space(pos_, line);
    if (p < end_) {
      const char* q = detail::first_space(p, end_);
      if (q < end_) {
        pos_ = q;
        line_ = line;
        token.text = std::string_view(p, static_cast<std::size_t>(q - p));
        token.line = line;
        return true;
      }
    }
    return next_slow(token);
  }
  /// Reads the next token and its value in one pass when it is a short plain decimal (see
  /// detail::parse_short_plain_decimal) lying within the buffer; false, having taken nothing,
  /// for any other token, which next() and parse_double() then handle.
  bool next_plain_decimal(Token& token, double& value) {
    long line = line_;
    const char* p = skip_space(pos_, line);
    bool found = false;
    double v = 0;
    const char* q = detail::scan_plain_decimal(p, end_, found, v);
    // The token must end where the number does, on whitespace inside the buffer.
    if (!found || q >= end_ || !detail::kSpaces.space(*q)) return false;
    value = v;
    token.text = std::string_view(p, static_cast<std::size_t>(q - p));
    token.line = line;
    pos_ = q;
    line_ = line;
    return true;
  }
  /// Takes the next n bytes into dst, for binary files; false if the input ends first.
  bool take(char* dst, std::size_t n);
  /// True when no byte is left.
  bool at_end();
  /// Passes over the next n bytes; false if the input ends first.
  bool skip(std::uint64_t n);
  /// Bytes of the input taken or passed over so far.
  std::uint64_t offset() const;
  /// The line where the input ended (the last line that holds anything).
  long end_line() const;
  /// An upper bound on the bytes still to come, for sizing allocations.
  std::uint64_t remaining_bytes() const;
  /// How many of `count` items of at least `min_bytes` each to reserve room for: never more
  /// than the rest of the input could hold, and where its size is unknown (a pipe) a modest
  /// number, so that a count read from a file is never trusted for an allocation.
  std::size_t reservable(std::uint64_t count, std::uint64_t min_bytes) const;
  /// The input's name for messages.
  const std::string& name() const { return name_; }

 private:
  bool refill();  // appends to the buffer; false at end of input
  // The first byte from p on in the buffer that is not whitespace (or end_), counting the
  // newlines passed into `line`.
  const char* skip_space(const char* p, long& line) const {
    for (; p < end_; ++p) {
      const unsigned kind = detail::kSpaces.kind[static_cast<unsigned char>(*p)];
      if (kind == 0) break;
      line += kind >> 1;
    }
    return p;
  }
  bool next_slow(Token& token);

  int fd_ = -1;
  bool in_memory_ = false;
  std::string name_;
  std::vector<char> buffer_;
  const char* pos_ = nullptr;
  const char* end_ = nullptr;
  bool at_eof_ = false;
  long line_ = 1;
  bool ended_in_newline_ = false;
  std::uint64_t size_ = UINT64_MAX;  // a regular file's size; unknown for pipes
  std::uint64_t consumed_ = 0;       // bytes before buffer_'s start
  const char* memory_ = nullptr;     // the start of an input held in memory
};

/// Takes the tokens of a text format for its reader: every fault becomes a Failure naming the
/// file, the line and the token. `describe(at)` says what was expected at a place; it is
/// called only when a message needs it.
template <typename Place>
class TokenReader {
 public:
  using Describe = std::string (*)(const Place&);
  TokenReader(Input& in, Describe what_at) : in_(in), describe_(what_at) {}

  /// Throws the Failure "FILE:LINE: what".
  [[noreturn]] void fail(long line, const std::string& what) const { throw failure(in_.name(), line, what); }

  /// The next token; the end of the input where one is expected is a fault.
  Token take(const Place& at) {
    Token t;
    if (!in_.next(t)) ended(at);
    return t;
  }

  /// The next token as a count from 0 to INT_MAX; `t` is the token.
  int count(const Place& at, Token& t) {
    t = take(at);
    int v = 0;
    if (!parse_count(t.text, v)) not_a_count(at, t);
    return v;
  }
  /// The same without the token.
  int count(const Place& at) {
    Token t;
    return count(at, t);
  }

  /// The next token as a number; `t` is the token.
  double number(const Place& at, Token& t) {
    double v = 0;
    if (in_.next_plain_decimal(t, v)) return v;
    t = take(at);
    if (!parse_double(t.text, v)) not_a_number(at, t);
    return v;
  }

  // The faults, kept out of the way of the loops that read numbers.
  [[noreturn]] __attribute__((noinline, cold)) void ended(const Place& at) const {
    fail(in_.end_line(), "the file ends where " + describe_(at) + " should be");
  }
  [[noreturn]] __attribute__((noinline, cold)) void not_a_count(const Place& at, const Token& t) const {
    fail(t.line, quote(t.text) + " is not a valid count for " + describe_(at) + " (a whole number from 0 to 2147483647)");
  }
  [[noreturn]] __attribute__((noinline, cold)) void not_a_number(const Place& at, const Token& t) const {
    fail(t.line, quote(t.text) + " is not a number, for " + describe_(at));
  }

  /// What was expected at a place, for messages.
  std::string describe(const Place& at) const { return describe_(at); }
  /// The input.
  Input& input() { return in_; }

 private:
  Input& in_;
  Describe describe_;
};

/// Buffered output to a file descriptor, or appended to a string; remembers the first write error.
class Output {
 public:
  /// Writes to `fd` (not closed here).
  explicit Output(int fd);
  /// Appends to `*sink`.
  explicit Output(std::string* sink);
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;
  ~Output();

  /// Appends bytes.
  void put(std::string_view text);
  /// Appends one byte.
  void put(char c) {
    make_room(1);
    *pos_++ = c;
  }
  /// Appends an integer as "%d" would.
  void put_int(long v);
  /// Appends v as "%*.*f" would with the given width and decimals.
  void put_fixed(double v, int decimals, int width = 0) {
    make_room(kMaxFixedChars + static_cast<std::size_t>(width));
    // The common cases straight into the buffer, padding included; NaN and infinities fail
    // the fast paths' range test and take the general way.
    char* fast = decimals == 6   ? detail::format_fixed_exact<6>(pos_, v, width)
                 : decimals == 3 ? detail::format_fixed_exact<3>(pos_, v, width)
                                 : nullptr;
    if (fast != nullptr)
      pos_ = fast;
    else
      put_fixed_slow(v, decimals, width);
  }
  /// Writes out everything buffered; false if this or any earlier write failed.
  bool flush();
  /// errno of the first failed write, 0 if none.
  int error() const { return error_; }

 private:
  void make_room(std::size_t n) {
    if (static_cast<std::size_t>(limit_ - pos_) < n) drain();
  }
  void drain();
  void put_fixed_slow(double v, int decimals, int width);
  void write_out(const char* p, std::size_t n);

  int fd_ = -1;
  std::string* sink_ = nullptr;
  std::vector<char> buffer_;
  char* pos_ = nullptr;
  char* limit_ = nullptr;
  int error_ = 0;
};

}  // namespace zarn

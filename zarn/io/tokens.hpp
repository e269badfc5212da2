// Token input over a file descriptor or memory: whitespace-separated tokens with their lines,
// bytes for binary files, and the reader of text formats that turns every fault into a
// Failure naming the file, the line and the token.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "model/failure.hpp"
#include "io/number_parse.hpp"

namespace zarn {

namespace detail {

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

/// A field "%9.3f" writes, nine bytes: spaces, an optional '-', at least one digit, '.' and
/// three digits; its value as the token would read (scan_plain_decimal); false for any other.
inline bool fixed_field(const char* p, double& value) {
  int i = 0;
  while (i < 9 && p[i] == ' ') ++i;
  const bool negative = i < 9 && p[i] == '-';
  if (negative) ++i;
  if (i >= 5 || p[5] != '.') return false;  // a digit before the point, at p[4] at least
  std::uint64_t mantissa = 0;
  for (int k = i; k < 9; ++k) {
    if (k == 5) continue;
    const unsigned d = static_cast<unsigned>(p[k] - '0');
    if (d >= 10) return false;
    mantissa = mantissa * 10 + d;
  }
  const double v = static_cast<double>(static_cast<std::int64_t>(mantissa)) / 1000.0;
  value = negative ? -v : v;
  return true;
}

}  // namespace detail

/// The longest token read: longer runs without whitespace are refused, so that an endless
/// input holds bounded memory.
constexpr std::size_t kMaxToken = 1 << 20;

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
  /// Reads, without taking it, a row of three figures as "%9.3f\t%9.3f\t%9.3f" writes them,
  /// on the line after the one the input stands on: the three values the tokens give, read in
  /// one pass; false for anything else (another layout, the buffer's end), which the tokens
  /// then read.
  bool peek_fixed_row(double (&values)[3]) const {
    constexpr std::ptrdiff_t kRow = 30;  // three fields of nine, two tabs and the newline
    const char* p = pos_;
    if (end_ - p <= kRow || *p != '\n' || p[kRow] != '\n') return false;
    ++p;
    for (int f = 0; f < 3; ++f, p += 10) {
      if (p[9] != (f < 2 ? '\t' : '\n')) return false;
      if (!detail::fixed_field(p, values[f])) return false;
    }
    return true;
  }
  /// Takes the row that peek_fixed_row read.
  void take_fixed_row() {
    pos_ += 30;
    ++line_;
  }
  /// The line the input stands on.
  long line() const { return line_; }
  /// Takes the next n bytes into dst, for binary files; false if the input ends first.
  bool take(char* dst, std::size_t n) {
    if (static_cast<std::size_t>(end_ - pos_) < n) return take_slow(dst, n);
    std::memcpy(dst, pos_, n);
    pos_ += n;
    return true;
  }
  /// The bytes held and not yet taken, at least n of them (more are read as needed), for
  /// binary readers that take rows in bulk; fewer than n only where the input ends first.
  std::string_view available(std::size_t n) {
    while (static_cast<std::size_t>(end_ - pos_) < n && refill()) {
    }
    return unread();
  }
  /// Takes n bytes of those available.
  void advance(std::size_t n) { pos_ += n; }
  /// True when the input can be read again from its first byte: held in memory, or a regular file.
  bool can_rewind() const { return in_memory_ || origin_ >= 0; }
  /// Where a regular file's input starts in it (its offset when the input was taken); -1 for
  /// memory and pipes.
  long long origin() const { return in_memory_ ? -1 : origin_; }
  /// Goes back to the input's first byte for a second pass; false where it cannot (a pipe).
  bool rewind();
  /// True when no byte is left.
  bool at_end() { return pos_ == end_ && !refill(); }
  /// Passes over the next n bytes; false if the input ends first.
  bool skip(std::uint64_t n) {
    if (static_cast<std::uint64_t>(end_ - pos_) < n) return skip_slow(n);
    pos_ += n;
    return true;
  }
  /// Bytes of the input taken or passed over so far.
  std::uint64_t offset() const {
    return static_cast<std::uint64_t>(pos_ - (in_memory_ ? memory_ : buffer_.data())) + consumed_;
  }
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
  /// For readers that hand the input to a library of their own (sound files): the file
  /// descriptor, or -1 for input held in memory.
  int descriptor() const { return in_memory_ ? -1 : fd_; }
  /// The bytes held here and not yet taken: for a fresh Input, all of an input in memory, or
  /// what was read from the descriptor before it.
  std::string_view unread() const { return std::string_view(pos_, static_cast<std::size_t>(end_ - pos_)); }

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
  bool take_slow(char* dst, std::size_t n);
  bool skip_slow(std::uint64_t n);

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
  long long origin_ = -1;            // where a regular file's input starts, for rewind
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
  __attribute__((always_inline)) double number(const Place& at, Token& t) {
    double v = 0;
    if (in_.next_plain_decimal(t, v)) return v;
    return number_slow(at, t);
  }
  /// The same for every token that the one-pass read does not take.
  __attribute__((noinline)) double number_slow(const Place& at, Token& t) {
    double v = 0;
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

}  // namespace zarn

// Buffered token input and buffered formatted output over file descriptors or memory,
// with the number conversions that the partial list file and the console listing use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zarn {

/// Parses a whole token as a double with strtod's syntax in the C locale; false if any of it is not a number.
bool parse_double(std::string_view token, double& value);

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
  bool next(Token& token);
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
  /// The input's name for messages.
  const std::string& name() const { return name_; }

 private:
  bool refill();  // appends to the buffer; false at end of input

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
  void put_fixed(double v, int decimals, int width = 0);
  /// Writes out everything buffered; false if this or any earlier write failed.
  bool flush();
  /// errno of the first failed write, 0 if none.
  int error() const { return error_; }

 private:
  void make_room(std::size_t n) {
    if (static_cast<std::size_t>(limit_ - pos_) < n) drain();
  }
  void drain();
  void write_out(const char* p, std::size_t n);

  int fd_ = -1;
  std::string* sink_ = nullptr;
  std::vector<char> buffer_;
  char* pos_ = nullptr;
  char* limit_ = nullptr;
  int error_ = 0;
};

}  // namespace zarn

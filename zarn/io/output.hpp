// Buffered output to a file descriptor or a string, with numbers formatted straight into the
// buffer; it remembers the first write error.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "io/number_format.hpp"

namespace zarn {

/// True when fd is a pipe or socket whose reader has gone, so that any write to it fails.
bool reader_gone(int fd);

/// Writes all n bytes to fd, retrying short writes; returns 0 or the errno of the failure.
int write_all(int fd, const char* p, std::size_t n);
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
  /// Room for n bytes at the end of what is buffered, for writers that fill it themselves.
  char* room(std::size_t n) {
    make_room(n);
    return pos_;
  }
  /// Takes what such a writer filled, up to `end` (at most n bytes past what room gave).
  void filled(char* end) { pos_ = end; }
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

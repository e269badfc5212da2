#include "text_io.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "failure.hpp"

namespace zarn {

namespace {

// Whitespace separates tokens: space, tab, newline, vertical tab, form feed, carriage return.
inline bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

constexpr std::size_t kInputChunk = 1 << 18;
constexpr std::size_t kOutputChunk = 1 << 18;

constexpr std::uint64_t kPow10Int[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000, 1000000000};

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

int write_all(int fd, const char* p, std::size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return 0;
}

std::string quote(std::string_view token) {
  constexpr std::size_t kShown = 60;
  std::string q = "\"";
  for (std::size_t i = 0; i < token.size() && i < kShown; ++i) {
    const unsigned char c = static_cast<unsigned char>(token[i]);
    if (c < 0x20 || c >= 0x7f || c == '"' || c == '\\') {
      static const char hex[] = "0123456789abcdef";
      q += "\\x";
      q += hex[c >> 4];
      q += hex[c & 15];
    } else {
      q += static_cast<char>(c);
    }
  }
  if (token.size() > kShown) q += "...";
  q += '"';
  return q;
}

// ---------------------------------------------------------------- Input

Input::Input(int fd, std::string name, std::string_view prefix)
    : fd_(fd), name_(std::move(name)), buffer_(std::max(kInputChunk, 2 * prefix.size())) {
  pos_ = buffer_.data();
  end_ = pos_ + prefix.size();
  if (!prefix.empty()) std::memcpy(buffer_.data(), prefix.data(), prefix.size());
  ended_in_newline_ = !prefix.empty() && prefix.back() == '\n';
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) size_ = static_cast<std::uint64_t>(st.st_size);
}

Input::Input(std::string_view bytes, std::string name)
    : in_memory_(true),
      name_(std::move(name)),
      pos_(bytes.data()),
      end_(bytes.data() + bytes.size()),
      at_eof_(true),
      ended_in_newline_(!bytes.empty() && bytes.back() == '\n'),
      memory_(bytes.data()) {}

bool Input::refill() {
  if (at_eof_) return false;
  // Keep the unread bytes [pos_, end_): the start of a token that the buffer cut.
  char* data = buffer_.data();
  const std::size_t kept = static_cast<std::size_t>(end_ - pos_);
  consumed_ += static_cast<std::uint64_t>(pos_ - data);
  std::memmove(data, pos_, kept);
  if (buffer_.size() - kept < kInputChunk / 2) {  // a long token: read it whole
    buffer_.resize(buffer_.size() * 2);
    data = buffer_.data();
  }
  pos_ = data;
  end_ = data + kept;
  for (;;) {
    const ssize_t n = ::read(fd_, data + kept, buffer_.size() - kept);
    if (n > 0) {
      end_ += n;
      ended_in_newline_ = end_[-1] == '\n';
      return true;
    }
    if (n == 0) {
      at_eof_ = true;
      return false;
    }
    if (errno != EINTR) throw system_failure(name_, errno, "cannot read");
  }
}

bool Input::next_slow(Token& token) {
  for (;;) {
    pos_ = skip_space(pos_, line_);
    if (pos_ < end_) break;
    if (!refill()) return false;
  }
  token.line = line_;
  std::size_t scanned = 0;  // bytes of the token already known not to be whitespace
  for (;;) {
    const char* p = detail::first_space(pos_ + scanned, end_);
    scanned = static_cast<std::size_t>(p - pos_);
    if (p < end_ || !refill()) break;
  }
  token.text = std::string_view(pos_, scanned);
  pos_ += scanned;
  return true;
}

bool Input::take(char* dst, std::size_t n) {
  while (static_cast<std::size_t>(end_ - pos_) < n) {
    if (!refill()) return false;
  }
  std::memcpy(dst, pos_, n);
  pos_ += n;
  return true;
}

bool Input::at_end() { return pos_ == end_ && !refill(); }

bool Input::skip(std::uint64_t n) {
  for (;;) {
    const auto here = static_cast<std::uint64_t>(end_ - pos_);
    if (here >= n) {
      pos_ += n;
      return true;
    }
    n -= here;
    pos_ = end_;
    if (!refill()) return false;
  }
}

std::uint64_t Input::offset() const {
  if (in_memory_) return static_cast<std::uint64_t>(pos_ - memory_);
  return consumed_ + static_cast<std::uint64_t>(pos_ - buffer_.data());
}

long Input::end_line() const { return ended_in_newline_ && line_ > 1 ? line_ - 1 : line_; }

std::uint64_t Input::remaining_bytes() const {
  if (in_memory_) return static_cast<std::uint64_t>(end_ - pos_);
  if (size_ == UINT64_MAX) return UINT64_MAX;
  const std::uint64_t seen = offset();
  return seen < size_ ? size_ - seen : 0;
}

std::size_t Input::reservable(std::uint64_t count, std::uint64_t min_bytes) const {
  constexpr std::uint64_t kBlindReserve = 1 << 16;
  const std::uint64_t remaining = remaining_bytes();
  const std::uint64_t cap = remaining == UINT64_MAX ? kBlindReserve : remaining / min_bytes + 1;
  return static_cast<std::size_t>(std::min(count, cap));
}

// ---------------------------------------------------------------- Output

Output::Output(int fd) : fd_(fd), buffer_(kOutputChunk) {
  pos_ = buffer_.data();
  limit_ = pos_ + buffer_.size();
}

Output::Output(std::string* sink) : sink_(sink), buffer_(kOutputChunk) {
  pos_ = buffer_.data();
  limit_ = pos_ + buffer_.size();
}

Output::~Output() = default;

void Output::write_out(const char* p, std::size_t n) {
  if (sink_ != nullptr) {
    sink_->append(p, n);
  } else if (error_ == 0) {
    error_ = write_all(fd_, p, n);
  }
}

void Output::drain() {
  write_out(buffer_.data(), static_cast<std::size_t>(pos_ - buffer_.data()));
  pos_ = buffer_.data();
}

void Output::put(std::string_view text) {
  if (text.size() > buffer_.size() / 2) {  // too big to be worth copying
    drain();
    write_out(text.data(), text.size());
    return;
  }
  make_room(text.size());
  std::memcpy(pos_, text.data(), text.size());
  pos_ += text.size();
}

void Output::put_int(long v) {
  make_room(24);
  pos_ = std::to_chars(pos_, limit_, v).ptr;
}

void Output::put_fixed_slow(double v, int decimals, int width) {
  char* end = format_fixed(pos_, v, decimals);
  const int len = static_cast<int>(end - pos_);
  if (len < width) {  // right-align within the width, as printf pads
    const int pad = width - len;
    std::memmove(pos_ + pad, pos_, static_cast<std::size_t>(len));
    std::memset(pos_, ' ', static_cast<std::size_t>(pad));
    end += pad;
  }
  pos_ = end;
}

bool Output::flush() {
  drain();
  return error_ == 0;
}

}  // namespace zarn

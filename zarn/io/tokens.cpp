#include "io/tokens.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace zarn {

namespace {

constexpr std::size_t kInputChunk = 1 << 18;

}  // namespace

Input::Input(int fd, std::string name, std::string_view prefix)
    : fd_(fd), name_(std::move(name)), buffer_(std::max(kInputChunk, 2 * prefix.size())) {
  pos_ = buffer_.data();
  end_ = pos_ + prefix.size();
  if (!prefix.empty()) std::memcpy(buffer_.data(), prefix.data(), prefix.size());
  ended_in_newline_ = !prefix.empty() && prefix.back() == '\n';
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    size_ = static_cast<std::uint64_t>(st.st_size);
    const off_t here = ::lseek(fd, 0, SEEK_CUR);
    if (here >= static_cast<off_t>(prefix.size())) origin_ = static_cast<long long>(here) - static_cast<long long>(prefix.size());
  }
}

bool Input::rewind() {
  if (in_memory_) {
    pos_ = memory_;
  } else {
    if (origin_ < 0 || ::lseek(fd_, static_cast<off_t>(origin_), SEEK_SET) != static_cast<off_t>(origin_)) return false;
    pos_ = end_ = buffer_.data();
    consumed_ = 0;
    at_eof_ = false;
  }
  line_ = 1;
  return true;
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
    // An endless run without whitespace (a device, a file of zeros) would be held whole.
    if (scanned > kMaxToken)
      throw failure(name_, line_, "a word of more than " + std::to_string(kMaxToken) + " bytes without a space: not a text that zarn reads");
    if (p < end_ || !refill()) break;
  }
  token.text = std::string_view(pos_, scanned);
  pos_ += scanned;
  return true;
}

bool Input::take_slow(char* dst, std::size_t n) {
  while (static_cast<std::size_t>(end_ - pos_) < n) {
    if (!refill()) return false;
  }
  std::memcpy(dst, pos_, n);
  pos_ += n;
  return true;
}

bool Input::skip_slow(std::uint64_t n) {
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

}  // namespace zarn

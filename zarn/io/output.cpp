#include "io/output.hpp"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>

namespace zarn {

namespace {

constexpr std::size_t kOutputChunk = 1 << 18;

}  // namespace

bool reader_gone(int fd) {
  struct pollfd p = {fd, POLLOUT, 0};
  return ::poll(&p, 1, 0) == 1 && (p.revents & POLLERR) != 0;
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

#include "io/spool.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "model/failure.hpp"

namespace zarn {

Spool::~Spool() {
  if (fd_ >= 0) ::close(fd_);
}

void Spool::open() {
  const char* tmp = std::getenv("TMPDIR");
  folder_ = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
  fd_ = ::open(folder_.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd_ >= 0) return;
  // Where the system has no unnamed files, a named one, unlinked at once.
  std::string name = folder_ + "/.zarn-spool-XXXXXX";
  fd_ = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd_ < 0) throw system_failure(folder_, errno, "cannot make a temporary file in");
  ::unlink(name.c_str());
}

std::uint64_t Spool::append(const double* values, std::size_t n) {
  if (fd_ < 0) open();
  const std::uint64_t at = size_;
  const char* p = reinterpret_cast<const char*>(values);
  std::size_t left = n * sizeof(double);
  auto offset = static_cast<off_t>(at * sizeof(double));
  while (left > 0) {
    const ssize_t done = ::pwrite(fd_, p, left, offset);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) throw system_failure(folder_, done < 0 ? errno : ENOSPC, "cannot write a temporary file in");
    p += done, left -= static_cast<std::size_t>(done), offset += done;
  }
  size_ += n;
  return at;
}

void Spool::read(std::uint64_t at, double* values, std::size_t n) const {
  char* p = reinterpret_cast<char*>(values);
  std::size_t left = n * sizeof(double);
  auto offset = static_cast<off_t>(at * sizeof(double));
  while (left > 0) {
    const ssize_t done = ::pread(fd_, p, left, offset);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) throw system_failure(folder_, done < 0 ? errno : EIO, "cannot read a temporary file in");
    p += done, left -= static_cast<std::size_t>(done), offset += done;
  }
}

}  // namespace zarn

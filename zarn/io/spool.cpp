#include "io/spool.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "io/output.hpp"
#include "model/failure.hpp"

namespace zarn {

namespace {

// "FOLDER: cannot ... a temporary file here: REASON; nothing saved".
Failure spool_failure(const std::string& folder, int error, const char* what) {
  return Failure(compose(folder, std::string("cannot ") + what + " a temporary file here: " + std::strerror(error) + "; nothing saved"),
                 FailureKind::kFileSystem, error);
}

}  // namespace

Spool::~Spool() {
  if (fd_ >= 0) ::close(fd_);
}

std::string temporary_folder() {
  const char* tmp = std::getenv("TMPDIR");
  return tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
}

int unnamed_temporary_file(std::string& folder) {
  // TMPDIR where it is set and takes the file, else /tmp.
  const std::string first = temporary_folder();
  int error = 0;
  for (const char* place : {first.c_str(), "/tmp"}) {
    folder = place;
    int fd = ::open(place, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
    // Where the system has no unnamed files, a named one, unlinked at once.
    std::string name = folder + "/.zarn-spool-XXXXXX";
    fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0) {
      ::unlink(name.c_str());
      return fd;
    }
    error = errno;
  }
  errno = error;
  return -1;
}

void Spool::open() {
  fd_ = unnamed_temporary_file(folder_);
  if (fd_ < 0) throw spool_failure(folder_, errno, "make");
}

std::uint64_t Spool::append(const double* values, std::size_t n) {
  if (fd_ < 0) open();
  const std::uint64_t at = size_;
  // Only appends move the file's offset (reads say where they read), so it stands at the end.
  if (const int error = write_all(fd_, reinterpret_cast<const char*>(values), n * sizeof(double)))
    throw spool_failure(folder_, error, "write");
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
    if (done <= 0) throw spool_failure(folder_, done < 0 ? errno : EIO, "read");
    p += done, left -= static_cast<std::size_t>(done), offset += done;
  }
}

}  // namespace zarn

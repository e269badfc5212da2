#include "io/save.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "model/failure.hpp"

namespace zarn {

std::string folder_of(const std::string& name) {
  const auto slash = name.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : name.substr(0, slash);
}

namespace {

using Kind = SaveOutcome::Kind;

// Writes the result into fd, then (with `sync`, to have it on disk) syncs and closes it.
// The first failing call gives its errno; 0 when everything reached the file.
int write_and_close(int fd, const FdWriter& write, bool sync) {
  int error = 0;
  try {
    error = write(fd);
  } catch (...) {
    ::close(fd);
    throw;
  }
  if (sync && error == 0 && ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  return error;
}

// A hidden name in `folder` that nothing stands at yet (checked again when it is taken).
std::string hidden_name(const std::string& folder) {
  static std::atomic<unsigned long> counter{0};  // saves may run in several threads at once
  struct timespec now;
  ::clock_gettime(CLOCK_REALTIME, &now);
  return folder + "/.zarn-" + std::to_string(::getpid()) + "-" + std::to_string(++counter) + "-" +
         std::to_string(static_cast<unsigned long>(now.tv_nsec));
}

// The file a result is written into before it takes its name. Where the system allows it, it
// has no name at all until it is whole (O_TMPFILE), so that a run killed while writing leaves
// nothing; elsewhere it is a hidden file beside the result. Either is created with 0666 less
// the umask, which the system applies.
class TempFile {
 public:
  ~TempFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!name_.empty()) ::unlink(name_.c_str());
  }

  /// Creates the file in `folder`; 0 or the errno of the failure.
  int create(const std::string& folder) {
    folder_ = folder;
    // An unnamed file is given its name through /proc, which must be there.
    if (::access("/proc/self/fd", X_OK) == 0) {
      fd_ = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
      if (fd_ >= 0) return 0;
      if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return errno;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
      const std::string name = hidden_name(folder);
      fd_ = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd_ >= 0) {
        name_ = name;
        return 0;
      }
      if (errno != EEXIST) return errno;
    }
    return EEXIST;
  }

  int fd() const { return fd_; }

  /// Writes the result and closes the file (an unnamed one stays open through a second
  /// descriptor, which link_as needs); 0 or the errno of the failure.
  int write(const FdWriter& writer, bool sync) {
    if (name_.empty()) return write_and_close(::dup(fd_), writer, sync);
    const int fd = fd_;
    fd_ = -1;
    return write_and_close(fd, writer, sync);
  }

  /// Gives the whole file the name `name`, which must not exist: 0, or EEXIST if it does, or
  /// the errno of another failure. The file is no longer temporary afterwards.
  int link_as(const std::string& name) {
    if (!name_.empty()) {
      if (::link(name_.c_str(), name.c_str()) != 0) return errno;
      ::unlink(name_.c_str());
      name_.clear();
      return 0;
    }
    // The unnamed file is reached through its descriptor.
    if (::linkat(fd_, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0) return 0;
    if (errno == EEXIST) return EEXIST;
    const std::string proc = "/proc/self/fd/" + std::to_string(fd_);
    if (::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
    return errno;
  }

  /// Puts the whole file in the place of `name`, whatever stands there: 0 or the errno.
  int replace(const std::string& name) {
    if (name_.empty()) {
      // An unnamed file takes a hidden name first: rename is the one atomic replacement.
      for (int attempt = 0; name_.empty(); ++attempt) {
        const std::string hidden = hidden_name(folder_);
        const int error = link_as(hidden);
        if (error == 0) name_ = hidden;
        else if (error != EEXIST || attempt == 100) return error;
      }
    }
    if (::rename(name_.c_str(), name.c_str()) != 0) return errno;
    name_.clear();
    return 0;
  }

 private:
  int fd_ = -1;
  std::string name_;  // empty while unnamed
  std::string folder_;
};

}  // namespace

namespace {

// The folder part of a name and its last part.
std::pair<std::string, std::string> split_name(const std::string& name) {
  const auto slash = name.rfind('/');
  return {folder_of(name), slash == std::string::npos ? name : name.substr(slash + 1)};
}

}  // namespace

bool same_place(const std::string& a, const std::string& b) {
  if (a == b) return true;
  struct stat sa, sb;
  if (::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino)
    return true;
  const auto [folder_a, last_a] = split_name(a);
  const auto [folder_b, last_b] = split_name(b);
  if (last_a != last_b) return false;
  return ::stat(folder_a.c_str(), &sa) == 0 && ::stat(folder_b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

SaveOutcome check_target(const std::string& name, bool replacing) {
  struct stat st;
  if (::lstat(name.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return {Kind::kNotAFile, EISDIR};
    if (S_ISCHR(st.st_mode)) return {};  // a device such as /dev/null is written to, not replaced
    if (!replacing) return {Kind::kExists, EEXIST};
    if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) return {Kind::kNotAFile, 0};
  }
  const std::string folder = folder_of(name);
  if (::stat(folder.c_str(), &st) != 0) return {Kind::kCannotCreate, errno};
  if (!S_ISDIR(st.st_mode)) return {Kind::kCannotCreate, ENOTDIR};
  if (::access(folder.c_str(), W_OK | X_OK) != 0) return {Kind::kCannotCreate, errno};
  return {};
}

FdWriter through_output(const Writer& write) {
  return [write](int fd) {
    Output out(fd);
    write(out);
    return out.flush() ? 0 : out.error();
  };
}

SaveOutcome save_new(const std::string& name, const Writer& write) { return save_new(name, through_output(write)); }

SaveOutcome save_replacing(const std::string& name, const Writer& write) {
  return save_replacing(name, through_output(write));
}

namespace {

// A character device (/dev/null, a terminal) is no file to create or replace: what is saved
// there is written to it, as a shell's redirection would.
SaveOutcome save_to_device(const std::string& name, const FdWriter& write) {
  const int fd = ::open(name.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return {Kind::kCannotCreate, errno};
  const int error = write(fd);
  const int closed = ::close(fd) == 0 ? 0 : errno;
  if (error != 0 || closed != 0) return {Kind::kCannotWrite, error != 0 ? error : closed};
  return {};
}

}  // namespace

SaveOutcome save_new(const std::string& name, const FdWriter& write) {
  // Anything at the name, a dangling link included, is refused before any work; the name is
  // taken only once the file is whole, and never over something that came meanwhile.
  struct stat st;
  if (::lstat(name.c_str(), &st) == 0 && S_ISCHR(st.st_mode)) return save_to_device(name, write);
  if (::lstat(name.c_str(), &st) == 0) return {S_ISDIR(st.st_mode) ? Kind::kNotAFile : Kind::kExists, S_ISDIR(st.st_mode) ? EISDIR : EEXIST};
  TempFile temp;
  if (const int error = temp.create(folder_of(name))) return {Kind::kCannotCreate, error};
  if (const int error = temp.write(write, false)) return {Kind::kCannotWrite, error};
  const int error = temp.link_as(name);
  if (error == EEXIST) return {Kind::kExists, EEXIST};
  if (error != 0) return {Kind::kCannotCreate, error};
  return {};
}

SaveOutcome save_replacing(const std::string& name, const FdWriter& write) {
  struct stat old;
  const bool exists = ::lstat(name.c_str(), &old) == 0;
  if (exists && S_ISDIR(old.st_mode)) return {Kind::kNotAFile, EISDIR};
  if (exists && S_ISCHR(old.st_mode)) return save_to_device(name, write);
  if (exists && !S_ISREG(old.st_mode) && !S_ISLNK(old.st_mode)) return {Kind::kNotAFile, 0};

  TempFile temp;
  if (const int error = temp.create(folder_of(name))) return {Kind::kCannotCreate, error};
  if (exists && S_ISREG(old.st_mode)) {
    // The replacement keeps the file's owner and its permission bits, never set-user-ID,
    // set-group-ID or sticky bits. A file of another user is not taken over.
    if (old.st_uid != ::geteuid() && ::fchown(temp.fd(), old.st_uid, old.st_gid) != 0) return {Kind::kNotOwned, EPERM};
    if (old.st_gid != ::getegid() && ::fchown(temp.fd(), static_cast<uid_t>(-1), old.st_gid) != 0) {
      // not a member of the file's group: the replacement keeps the caller's
    }
    if (::fchmod(temp.fd(), old.st_mode & 0777) != 0) return {Kind::kCannotCreate, errno};
  }
  // On disk before it takes the old file's place, so that a crash leaves one or the other.
  if (const int error = temp.write(write, true)) return {Kind::kCannotWrite, error};
  const int error = temp.replace(name);
  if (error != 0) return {Kind::kCannotWrite, error};
  return {};
}

SaveOutcome save_to_fd(int fd, const Writer& write) {
  const int error = through_output(write)(fd);
  if (error != 0) return {Kind::kCannotWrite, error};
  return {};
}

Failure save_failure(const std::string& name, const SaveOutcome& outcome, const std::string& consequence) {
  switch (outcome.kind) {
    case SaveOutcome::Kind::kExists: {
      // --force replaces files and links only: for a device or a pipe it is no way out.
      struct stat st;
      if (::lstat(name.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode))
        return failure(name, "exists and is not a file; " + consequence);
      return failure(name, "exists; " + consequence + " (--force replaces it)");
    }
    case SaveOutcome::Kind::kNotAFile:
      if (outcome.error == EISDIR) return failure(name, "is a directory; " + consequence);
      return failure(name, "is not a file; " + consequence + " (--force replaces only files and links)");
    case SaveOutcome::Kind::kNotOwned:
      return failure(name, "belongs to another user, to whom the replacement could not be given; " + consequence);
    case SaveOutcome::Kind::kWritten:
    case SaveOutcome::Kind::kCannotCreate:
    case SaveOutcome::Kind::kCannotWrite: break;
  }
  return Failure(compose(name, std::string(std::strerror(outcome.error)) + "; " + consequence), FailureKind::kFileSystem,
                 outcome.error);
}

void save_as(const std::string& name, bool replacing, const FdWriter& write, const std::string& consequence) {
  const SaveOutcome saved = replacing ? save_replacing(name, write) : save_new(name, write);
  if (!saved.written()) throw save_failure(name, saved, consequence);
}

}  // namespace zarn

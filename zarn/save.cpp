#include "save.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "failure.hpp"

namespace zarn {

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

// Removes `name` on every way out of a scope, unless kept.
struct RemoveUnlessKept {
  const std::string& name;
  bool keep = false;
  ~RemoveUnlessKept() {
    if (!keep) ::unlink(name.c_str());
  }
};

std::string folder_of(const std::string& name) {
  const auto slash = name.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : name.substr(0, slash);
}

// Permissions that a newly created file gets: 0666 less the umask.
mode_t new_file_mode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace

bool path_exists(const std::string& name) {
  struct stat st;
  return ::lstat(name.c_str(), &st) == 0;
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

SaveOutcome save_new(const std::string& name, const FdWriter& write) {
  // O_EXCL: an existing path of any kind, a dangling link included, is never opened.
  const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return {errno == EEXIST ? Kind::kExists : Kind::kCannotCreate, errno};
  RemoveUnlessKept guard{name};
  const int error = write_and_close(fd, write, false);
  if (error != 0) return {Kind::kCannotWrite, error};
  guard.keep = true;
  return {};
}

SaveOutcome save_replacing(const std::string& name, const FdWriter& write) {
  struct stat old;
  const bool exists = ::lstat(name.c_str(), &old) == 0;
  if (exists && !S_ISREG(old.st_mode) && !S_ISLNK(old.st_mode)) return {Kind::kNotAFile, 0};
  // The replacement keeps the permissions of the file it replaces; a new one gets the usual.
  const mode_t mode = exists && S_ISREG(old.st_mode) ? (old.st_mode & 07777) : new_file_mode();

  std::string temp = folder_of(name) + "/.zarn-XXXXXX";
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return {Kind::kCannotCreate, errno};
  RemoveUnlessKept guard{temp};
  if (::fchmod(fd, mode) != 0) {
    const int error = errno;
    ::close(fd);
    return {Kind::kCannotCreate, error};
  }
  // On disk before it takes the old file's place, so that a crash leaves one or the other.
  const int error = write_and_close(fd, write, true);
  if (error != 0) return {Kind::kCannotWrite, error};
  if (::rename(temp.c_str(), name.c_str()) != 0) return {Kind::kCannotWrite, errno};
  guard.keep = true;
  return {};
}

SaveOutcome save_to_fd(int fd, const Writer& write) {
  const int error = through_output(write)(fd);
  if (error != 0) return {Kind::kCannotWrite, error};
  return {};
}

namespace {

void say_with_name(Output& out, const char* before, const std::string& name, const char* after) {
  out.put(before);
  out.put(name);
  out.put(after);
}

// Flushes the console before the user is asked anything; a console that cannot be written
// ends the run.
void flush_console(Output& console) {
  if (!console.flush()) throw Failure(stdout_failed(console.error()));
}

}  // namespace

bool save_dialogue(Output& console, Input& answers, const Writer& write,
                   const std::function<void(const std::string&)>& warn) {
  for (;;) {
    console.put("Enter file name: \n");
    console.put("                 ");  // 17 spaces
    flush_console(console);
    Token word;
    if (!answers.next(word)) throw failure("no output file name given; nothing saved");
    const std::string name(word.text);
    if (name.find('\0') != std::string::npos) throw failure("the output file name holds a NUL byte; nothing saved");
    const SaveOutcome saved = save_new(name, write);
    switch (saved.kind) {
      case Kind::kWritten:
        console.put("Hello, World!\n");
        return true;
      case Kind::kExists:
      case Kind::kNotAFile:
        say_with_name(console, "File ", name, " exists\n");
        continue;
      case Kind::kCannotCreate:
        say_with_name(console, "Cannot create file ", name, "\n");
        warn(compose(name, std::strerror(saved.error)));
        return false;
      case Kind::kCannotWrite:
        say_with_name(console, "Cannot write file ", name, "\n");
        warn(compose(name, std::strerror(saved.error)));
        return false;
    }
  }
}

}  // namespace zarn

#include "io/room.hpp"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <cerrno>
#include <cstdio>
#include <limits>

#include "io/save.hpp"
#include "model/failure.hpp"

namespace zarn {

double room_for(const std::string& name) {
  constexpr double kUnbounded = std::numeric_limits<double>::infinity();
  if (name == "-") return kUnbounded;
  struct stat st;
  if (::stat(name.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return kUnbounded;  // a device or a pipe takes what it takes
  // A file replaced gives its own blocks back only once the new one has its name: not counted.
  return room_in(folder_of(name));
}

double room_in(const std::string& folder) {
  struct statvfs fs;
  if (::statvfs(folder.c_str(), &fs) != 0) return std::numeric_limits<double>::infinity();  // the save says why the folder fails
  return static_cast<double>(fs.f_bavail) * static_cast<double>(fs.f_frsize);
}

void Room::take(double bytes, const std::string& what) {
  taken_ += bytes;
  if (taken_ <= left_) return;
  throw Failure(compose("no room: " + what_needs(what) + " at least " + shown_bytes(taken_) + ", more than the " + shown_bytes(left_) +
                        " free for " + name_),
                FailureKind::kFileSystem, ENOSPC);
}

}  // namespace zarn

#include "formats.hpp"

#include <fcntl.h>
#include <unistd.h>

namespace zarn {

std::string input_name(const std::string& path) { return path == "-" ? "standard input" : path; }

int open_input(const std::string& path) {
  if (path == "-") return STDIN_FILENO;
  return ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
}

PartialSet read_input(int fd, const std::string& name) {
  Input in(fd, name);
  return read_partials(in);
}

PartialSet read_input(std::string_view bytes, const std::string& name) {
  Input in(bytes, name);
  return read_partials(in);
}

Writer result_writer(const PartialSet& set) {
  return [&set](Output& out) { write_partials(out, set); };
}

}  // namespace zarn

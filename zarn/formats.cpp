#include "formats.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "failure.hpp"
#include "sdif.hpp"
#include "spear.hpp"

namespace zarn {

namespace {

// Enough of a file's start to tell the formats apart.
constexpr std::size_t kSniff = 64;

enum class InputFormat { kList, kSdif, kSpear };

InputFormat recognise(std::string_view start) {
  if (start.substr(0, kSdifMagic.size()) == kSdifMagic) return InputFormat::kSdif;
  std::string_view line = start.substr(0, start.find('\n'));
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line == kSpearPartialsLine || line == kSpearFramesLine) return InputFormat::kSpear;
  return InputFormat::kList;
}

PartialSet read_recognised(Input& in, InputFormat format) {
  switch (format) {
    case InputFormat::kSdif: return read_sdif(in);
    case InputFormat::kSpear: return read_spear(in);
    case InputFormat::kList: break;
  }
  return read_partials(in);
}

}  // namespace

std::optional<Format> format_named(std::string_view name) {
  if (name == "list") return Format::kList;
  if (name == "sdif") return Format::kSdif;
  if (name == "spear-partials") return Format::kSpearPartials;
  if (name == "spear-frames") return Format::kSpearFrames;
  return std::nullopt;
}

std::optional<Format> format_of_name(std::string_view name) {
  constexpr std::string_view kSdifEnding = ".sdif";
  if (name.size() > kSdifEnding.size() && name.substr(name.size() - kSdifEnding.size()) == kSdifEnding) return Format::kSdif;
  return std::nullopt;
}

bool is_frame_format(Format format) { return format == Format::kSdif || format == Format::kSpearFrames; }

std::string input_name(const std::string& path) { return path == "-" ? "standard input" : path; }

int open_input(const std::string& path) {
  if (path == "-") return STDIN_FILENO;
  return ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
}

PartialSet read_input(int fd, const std::string& name) {
  // The first bytes are read here and handed on, so that a pipe works as well as a file.
  char start[kSniff];
  std::size_t got = 0;
  while (got < kSniff) {
    const ssize_t n = ::read(fd, start + got, kSniff - got);
    if (n > 0) {
      got += static_cast<std::size_t>(n);
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      throw failure(name, std::string("cannot read: ") + std::strerror(errno));
    }
  }
  const std::string_view prefix(start, got);
  Input in(fd, name, prefix);
  return read_recognised(in, recognise(prefix));
}

PartialSet read_input(std::string_view bytes, const std::string& name) {
  Input in(bytes, name);
  return read_recognised(in, recognise(bytes.substr(0, kSniff)));
}

Writer result_writer(const PartialSet& set, Format format, std::string written_by) {
  switch (format) {
    case Format::kSdif:
      return [&set, written_by](Output& out) { write_sdif(out, set, written_by); };
    case Format::kSpearPartials:
      return [&set](Output& out) { write_spear_partials(out, set); };
    case Format::kSpearFrames:
      return [&set](Output& out) { write_spear_frames(out, set); };
    case Format::kList:
      break;
  }
  return [&set](Output& out) { write_partials(out, set); };
}

}  // namespace zarn

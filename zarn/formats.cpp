#include "formats.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>

#include "failure.hpp"
#include "partial_file.hpp"
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

// Files that are no analysis at all, told by their first bytes, so that they get a plain word
// instead of a parser's complaint about their bytes. The list's header words are not
// compared, so a file is called foreign only once the list reader has refused it.
struct Foreign {
  std::string_view magic;
  std::size_t at;  // where the magic stands
  const char* kind;
};
constexpr Foreign kForeign[] = {
    {"\x1f\x8b", 0, "a gzip file"},
    {"BZh", 0, "a bzip2 file"},
    {"\xfd" "7zXZ", 0, "an xz file"},
    {"PK\x03\x04", 0, "a zip file"},
    {"\x7f" "ELF", 0, "an executable (ELF)"},
    {"WAVE", 8, "a sound file (WAV)"},
    {"RF64", 0, "a sound file (RF64)"},
    {"AIFF", 8, "a sound file (AIFF)"},
    {"AIFC", 8, "a sound file (AIFF-C)"},
    {"fLaC", 0, "a sound file (FLAC)"},
    {"OggS", 0, "an Ogg file"},
    {"caff", 0, "a sound file (CAF)"},
    {"ID3", 0, "a sound file (MP3)"},
    {"\x89PNG", 0, "a PNG image"},
    {"\xff\xd8\xff", 0, "a JPEG image"},
    {"%PDF", 0, "a PDF document"},
    {"<svg", 0, "an SVG picture"},
    {"<?xml", 0, "an XML document"},
    {"#!", 0, "a script"},
};

// Reads in the recognised format; a refused list that starts as a known kind of file is
// named as that kind instead.
PartialSet read_recognised(Input& in, InputFormat format, std::string_view start, const std::string& name) {
  try {
    switch (format) {
      case InputFormat::kSdif: return read_sdif(in);
      case InputFormat::kSpear: return read_spear(in);
      case InputFormat::kList: break;
    }
    return read_partials(in);
  } catch (const Failure&) {
    if (format != InputFormat::kList) throw;
    for (const Foreign& f : kForeign)
      if (start.size() >= f.at + f.magic.size() && start.substr(f.at, f.magic.size()) == f.magic) {
        const bool svg = f.magic == "<?xml" && start.find("<svg") != std::string_view::npos;
        throw failure(name + " is " + (svg ? "an SVG picture" : f.kind) + ", not an analysis");
      }
    throw;
  }
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
  if (name.size() <= kSdifEnding.size()) return std::nullopt;
  const std::string_view tail = name.substr(name.size() - kSdifEnding.size());
  for (std::size_t i = 0; i < tail.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(tail[i])) != kSdifEnding[i]) return std::nullopt;
  return Format::kSdif;
}

void check_result(const ResampledSet& set, Format format) {
  if (format == Format::kList) check_list_figures(set);
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
      throw system_failure(name, errno, "cannot read");
    }
  }
  const std::string_view prefix(start, got);
  Input in(fd, name, prefix);
  return read_recognised(in, recognise(prefix), prefix, name);
}

PartialSet read_input(std::string_view bytes, const std::string& name) {
  Input in(bytes, name);
  return read_recognised(in, recognise(bytes.substr(0, kSniff)), bytes.substr(0, kSniff), name);
}

Writer result_writer(const ResampledSet& set, Format format, std::string written_by) {
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

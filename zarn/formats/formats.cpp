#include "formats/formats.hpp"

#include "formats/in_order.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "formats/ats.hpp"
#include "model/failure.hpp"
#include "model/memory.hpp"
#include "formats/partial_file.hpp"
#include "formats/sdif.hpp"
#include "formats/spear.hpp"

namespace zarn {

namespace {

// Enough of a file's start to tell the formats apart.
constexpr std::size_t kSniff = 64;

// The first line of a text file, without its line end.
std::string_view first_line(std::string_view start) {
  std::string_view line = start.substr(0, start.find('\n'));
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

PartialSet read_list(Input& in, const ReadOptions&) { return read_partials(in); }
PartialSet read_sdif_file(Input& in, const ReadOptions&) { return read_sdif(in); }
PartialSet read_list_each(Input& in, PartialSet input, PartialSink& sink) {
  read_partials_each(in, [&](int count) { sink.start(input, count); }, [&](Partial& part, int p) { sink.take(part, p); });
  return input;
}
PartialSet read_spear_file(Input& in, const ReadOptions&) { return read_spear(in); }

// The list written as its partials come.
class ListWriter final : public PartialWriter {
 public:
  bool writes_as_they_come() const override { return true; }
  bool takes(const PartialSet&) const override { return true; }
  void start(Output* out, int count) override { write_list_start(*out, count); }
  void check(const Resampled& part, std::size_t p) const override { check_list_partial(part, p); }
  void take(Output* out, const Resampled& part) override {
    if (!repeated_) {
      RepeatedTime at;
      if (repeated_time(part, taken_, at)) repeated_ = at;
    }
    ++taken_;
    write_list_partial(*out, part);
  }
  void end(Output& out) override { write_list_end(out); }
  std::optional<RepeatedTime> repeated() const override { return repeated_; }

 private:
  std::size_t taken_ = 0;
  std::optional<RepeatedTime> repeated_;
};

// SDIF's frames, made once every partial is in from their points set aside on disk.
class SdifWriter final : public PartialWriter {
 public:
  SdifWriter(const std::string& written_by, double step) : frames_(written_by, step) {}
  bool writes_as_they_come() const override { return false; }
  bool takes(const PartialSet& input) const override { return input.plain_origins; }
  void start(Output*, int) override {}
  void check(const Resampled& part, std::size_t p) const override { check_sdif_partial(part, p); }
  void take(Output*, const Resampled& part) override { frames_.take(part); }
  void end(Output& out) override { frames_.write(out); }

 private:
  SdifFrameStream frames_;
};

const std::vector<FormatRow> kFormats = {
    {Format::kList, "list", "", false, false, nullptr, read_list, read_list_each,
     [](Output& out, const ResampledSet& set, const WriteOptions&) { write_partials(out, set); }, check_list_figures, false, false, 30, kMaxFreq,
     [](const WriteOptions&, double) -> std::unique_ptr<PartialWriter> { return std::make_unique<ListWriter>(); }},
    {Format::kSdif, "sdif", ".sdif", true, false, [](std::string_view start) { return start.substr(0, kSdifMagic.size()) == kSdifMagic; },
     read_sdif_file, read_sdif_each, [](Output& out, const ResampledSet& set, const WriteOptions& o) { write_sdif(out, set, o.written_by); },
     check_sdif_figures, false, false, 16, HUGE_VAL,
     [](const WriteOptions& o, double step) -> std::unique_ptr<PartialWriter> { return std::make_unique<SdifWriter>(o.written_by, step); }},
    {Format::kSpearPartials, "spear-partials", "", false, false,
     [](std::string_view start) { return first_line(start) == kSpearPartialsLine; }, read_spear_file, nullptr,
     [](Output& out, const ResampledSet& set, const WriteOptions&) { write_spear_partials(out, set); },
     [](const ResampledSet& set) { check_figures(set, {"a text export", false, false}); }, false, false, 26},
    {Format::kSpearFrames, "spear-frames", "", true, false,
     [](std::string_view start) { return first_line(start) == kSpearFramesLine; }, read_spear_file, nullptr,
     [](Output& out, const ResampledSet& set, const WriteOptions&) { write_spear_frames(out, set); },
     [](const ResampledSet& set) { check_figures(set, {"a text export", false, false}); }, false, false, 18},
    {Format::kAts, "ats", ".ats", true, true, is_ats, [](Input& in, const ReadOptions&) { return read_ats(in); }, read_ats_each,
     [](Output& out, const ResampledSet& set, const WriteOptions& o) { write_ats(out, set, o.rate); }, check_ats, true, true, 16},
    {Format::kSound, "sound", "", false, false, is_sound, [](Input& in, const ReadOptions& o) { return read_sound(in, o.sound); },
     nullptr, nullptr, nullptr},
};

// The row of a format read, by the name the table gives it.
const FormatRow& recognised_row(std::string_view name) {
  for (const FormatRow& row : kFormats)
    if (row.name == name) return row;
  return row_of(Format::kList);
}

// The row whose reader takes a file that starts with these bytes.
const FormatRow& recognise(std::string_view start) {
  for (const FormatRow& row : kFormats)
    if (row.recognises != nullptr && row.read != nullptr && row.recognises(start)) return row;
  return row_of(Format::kList);
}

bool ends_with_any_case(std::string_view name, std::string_view ending) {
  if (ending.empty() || name.size() <= ending.size()) return false;
  const std::string_view tail = name.substr(name.size() - ending.size());
  for (std::size_t i = 0; i < tail.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(tail[i])) != ending[i]) return false;
  return true;
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
    {"\x89PNG", 0, "a PNG image"},
    {"\xff\xd8\xff", 0, "a JPEG image"},
    {"%PDF", 0, "a PDF document"},
    {"<svg", 0, "an SVG picture"},
    {"<?xml", 0, "an XML document"},
    {"#!", 0, "a script"},
};

// True when the first bytes are no text: a control byte other than whitespace, or bytes that
// are not UTF-8.
bool looks_binary(std::string_view start) {
  for (std::size_t i = 0; i < start.size();) {
    const auto c = static_cast<unsigned char>(start[i]);
    if (c < 0x80) {
      if ((c < 0x20 && !(c >= '\t' && c <= '\r')) || c == 0x7f) return true;
      ++i;
      continue;
    }
    const std::size_t n = c >= 0xc2 && c <= 0xdf ? 2 : c >= 0xe0 && c <= 0xef ? 3 : c >= 0xf0 && c <= 0xf4 ? 4 : 0;
    if (n == 0) return true;
    if (i + n > start.size()) return false;  // a character cut by the end of the bytes looked at
    for (std::size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(start[i + k]) & 0xc0) != 0x80) return true;
    i += n;
  }
  return false;
}

// True for a name whose ending says it is a sound, SDIF or ATS file: an empty one is not
// called a partial list in its message.
bool named_as_other_than_a_list(std::string_view name) {
  static constexpr std::string_view kSounds[] = {".wav", ".wave", ".aif", ".aiff", ".aifc", ".caf", ".flac",
                                                 ".ogg", ".oga",  ".opus", ".mp3", ".au",   ".w64",  ".rf64"};
  for (std::string_view ending : kSounds)
    if (ends_with_any_case(name, ending)) return true;
  for (const FormatRow& row : kFormats)
    if (!row.ending.empty() && ends_with_any_case(name, row.ending)) return true;
  return false;
}

// Reads in the recognised format, whole, or (with a sink) one partial at a time; a refused
// list that starts as a known kind of file is named as that kind instead.
PartialSet read_recognised(Input& in, std::string_view start, const std::string& name, const ReadOptions& options, PartialSink* sink = nullptr) {
  const FormatRow& row = recognise(start);
  if (!options.sound_options.empty() && row.format != Format::kSound) {
    const std::vector<std::string>& given = options.sound_options;
    std::string named;
    for (std::size_t i = 0; i < given.size(); ++i) named += (i == 0 ? "" : i + 1 == given.size() ? " and " : ", ") + given[i];
    throw failure(name + " is no sound file: " + named + (given.size() == 1 ? " applies" : " apply") + " to sounds only");
  }
  try {
    if (sink != nullptr && row.read_each != nullptr) {
      PartialSet input;
      input.format = row.name;
      return row.read_each(in, std::move(input), *sink);
    }
    PartialSet set = row.read(in, options);
    set.format = row.name;
    return set;
  } catch (const Failure& refused) {
    if (row.format != Format::kList) throw;
    if (start.empty() && named_as_other_than_a_list(name)) throw failure(name, "the file is empty: it holds no sound and no partials");
    for (const Foreign& f : kForeign)
      if (start.size() >= f.at + f.magic.size() && start.substr(f.at, f.magic.size()) == f.magic) {
        const bool svg = f.magic == "<?xml" && start.find("<svg") != std::string_view::npos;
        throw failure(name + " is " + (svg ? "an SVG picture" : f.kind) + ", not an analysis");
      }
    if (looks_binary(start)) throw failure(name, "not a partial list, SDIF, ATS, SPEAR export or sound file zarn can read");
    // Text under a name that says sound, SDIF or ATS: said first, then why it is no list either.
    if (named_as_other_than_a_list(name) && refused.kind == FailureKind::kBadInput) {
      std::string why = refused.message;
      if (why.rfind("zarn: ", 0) == 0) why.erase(0, 6);
      while (!why.empty() && why.back() == '\n') why.pop_back();
      throw failure(name + " holds text, not the sound, SDIF or ATS its name says; read as a partial list: " + why);
    }
    throw;
  }
}

}  // namespace

const std::vector<FormatRow>& format_table() { return kFormats; }

const FormatRow& row_of(Format format) { return kFormats[static_cast<std::size_t>(format)]; }

std::optional<Format> format_named(std::string_view name) {
  for (const FormatRow& row : kFormats)
    if (row.write != nullptr && row.name == name) return row.format;
  return std::nullopt;
}

std::vector<Format> written_formats() {
  std::vector<Format> formats;
  for (const FormatRow& row : kFormats)
    if (row.write != nullptr) formats.push_back(row.format);
  return formats;
}

std::string format_names() {
  std::string names;
  std::size_t written = 0, count = 0;
  for (const FormatRow& row : kFormats) count += row.write != nullptr ? 1 : 0;
  for (const FormatRow& row : kFormats) {
    if (row.write == nullptr) continue;
    if (written > 0) names += written + 1 == count ? " or " : ", ";
    names += row.name;
    ++written;
  }
  return names;
}

std::optional<Format> format_of_name(std::string_view name) {
  for (const FormatRow& row : kFormats)
    if (row.write != nullptr && ends_with_any_case(name, row.ending)) return row.format;
  return std::nullopt;
}

void FrequenciesNotHeld::add(const Resampled& part, std::size_t p) {
  const double top = row_of(format_).top_frequency;
  for (std::size_t k = 0; k < part.freq.size(); ++k) {
    if (!(part.freq[k] < kMinFreq) && !(part.freq[k] > top)) continue;  // NaN passes: written as it is
    if (count_++ == 0) first_partial_ = p, first_freq_ = part.freq[k], first_time_ = part.time[k];
  }
}

std::string FrequenciesNotHeld::text() const {
  if (count_ == 0) return {};
  const double top = row_of(format_).top_frequency;
  char figures[96], range[48];
  std::snprintf(figures, sizeof figures, "%.6g Hz at %.6g s", first_freq_, first_time_);
  std::snprintf(range, sizeof range, top < HUGE_VAL ? "outside the %g to %g Hz" : "below the %g Hz", kMinFreq, top);
  return std::to_string(count_) + (count_ == 1 ? " frequency lies " : " frequencies lie ") + range + " that " +
         std::string(row_of(format_).name) + " files are read with (the first: partial " + std::to_string(first_partial_ + 1) + ", " +
         figures + "); they are written as they are, but read back they are held to that range";
}

std::string frequencies_not_held(const ResampledSet& set, Format format) {
  FrequenciesNotHeld count(format);
  for (std::size_t p = 0; p < set.partials.size(); ++p) count.add(set.partials[p], p);
  return count.text();
}

void check_result(const ResampledSet& set, Format format) {
  if (row_of(format).check != nullptr) row_of(format).check(set);
}

bool is_frame_format(Format format) { return row_of(format).frames; }

std::string input_name(const std::string& path) { return path == "-" ? "standard input" : path; }

InputCloser::~InputCloser() {
  if (fd > STDERR_FILENO) ::close(fd);
}

std::string read_text_file(const std::string& path, const std::string& what, double per_byte) {
  InputCloser in{open_input(path)};
  if (in.fd < 0) throw system_failure(path, errno);
  struct stat st;
  if (::fstat(in.fd, &st) != 0) throw system_failure(path, errno, "cannot read");
  if (S_ISDIR(st.st_mode)) throw system_failure(path, EISDIR, "cannot read");
  if (!S_ISREG(st.st_mode) && !S_ISFIFO(st.st_mode) && !S_ISSOCK(st.st_mode))
    throw failure(path, "is not a file of text but a device: " + what + " must be a file");
  const auto too_large = [&](double bytes) {
    return failure(path, what + " holds " + (S_ISREG(st.st_mode) ? "" : "more than ") + shown_bytes(bytes) +
                             ", more than the " + shown_bytes(static_cast<double>(kSmallFileCap)) + " such a file may hold");
  };
  if (S_ISREG(st.st_mode) && static_cast<std::uint64_t>(st.st_size) > kSmallFileCap) throw too_large(static_cast<double>(st.st_size));
  std::string text;
  const MemoryCheck memory;  // measured once, not at every block
  if (S_ISREG(st.st_mode)) {
    memory.check(per_byte * static_cast<double>(st.st_size), what);
    text.reserve(static_cast<std::size_t>(st.st_size));
  }
  char block[1 << 16];
  for (;;) {
    const ssize_t got = ::read(in.fd, block, sizeof block);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw system_failure(path, errno, "cannot read");
    if (got == 0) break;
    const std::size_t size = text.size() + static_cast<std::size_t>(got);
    if (size > kSmallFileCap) throw too_large(static_cast<double>(kSmallFileCap));  // a file grown since, or a pipe
    memory.check(per_byte * static_cast<double>(size), what);
    text.append(block, static_cast<std::size_t>(got));
  }
  return text;
}

int open_input(const std::string& path) {
  if (path == "-") return STDIN_FILENO;
  return ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
}

namespace {

PartialSet read_fd(int fd, const std::string& name, const ReadOptions& options, PartialSink* sink) {
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
  return read_recognised(in, prefix, name, options, sink);
}

}  // namespace

PartialSet read_input(int fd, const std::string& name, const ReadOptions& options) { return read_fd(fd, name, options, nullptr); }

namespace {

// Hands on the partials of a set read whole, where its format is not read a partial at a time.
void hand_read(PartialSet& set, PartialSink& sink) {
  if (recognised_row(set.format).read_each == nullptr) hand_each(set, sink);  // else taken as it was read
}

}  // namespace

void read_input_each(int fd, const std::string& name, const ReadOptions& options, PartialSink& sink) {
  PartialSet set = read_fd(fd, name, options, &sink);
  hand_read(set, sink);
}

PartialSet read_input(std::string_view bytes, const std::string& name, const ReadOptions& options) {
  Input in(bytes, name);
  return read_recognised(in, bytes.substr(0, kSniff), name, options);
}

void read_input_each(std::string_view bytes, const std::string& name, PartialSink& sink, const ReadOptions& options) {
  Input in(bytes, name);
  PartialSet set = read_recognised(in, bytes.substr(0, kSniff), name, options, &sink);
  hand_read(set, sink);
}

Writer result_writer(const ResampledSet& set, Format format, WriteOptions options) {
  const FormatRow& row = row_of(format);
  return [&set, &row, options](Output& out) { row.write(out, set, options); };
}

}  // namespace zarn

// The file formats a run reads and writes, as one table: each format's name, the ending of
// output names that choose it, whether it holds frames, how its first bytes look, and its
// reader and writer. The options, the help, the messages that list formats and the Python
// module all take what they need from the table; a new format is a module and a row.
#pragma once

#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/partials.hpp"
#include "io/save.hpp"
#include "formats/partial_file.hpp"
#include "formats/sound_input.hpp"

namespace zarn {

/// The formats, by the order of their rows.
enum class Format { kList, kSdif, kSpearPartials, kSpearFrames, kAts, kSound };

/// What a reader may be told besides the input itself (options of its own).
struct ReadOptions {
  SoundOptions sound;          // how a sound file is analysed
  std::vector<std::string> sound_options;  // those given, as typed (--hop): an input that is no sound is refused
};

/// What a writer may be told besides the set itself.
struct WriteOptions {
  std::string written_by = "zarn";  // the program, where the format records it
  int rate = 44100;                 // the sampling rate, where the format records one
};

/// A result written as its partials come, one at a time, each laid on the grid and fitted: the
/// end of the chain of a run that streams.
class PartialWriter {
 public:
  virtual ~PartialWriter() = default;
  /// True where the file is written as the partials come (the list); else once every partial
  /// is in, from what was set aside (SDIF's frames, which merge the partials by time).
  virtual bool writes_as_they_come() const = 0;
  /// False for an input whose partials this writer cannot take one at a time (SDIF's harmonic
  /// tracks and other streams, whose frames only the whole set's writer keeps): it is held whole.
  virtual bool takes(const PartialSet& input) const = 0;
  /// Before the first partial: how many come; `out` where the file is written as they come.
  virtual void start(Output* out, int count) = 0;
  /// Throws Failure naming the p-th partial (from 0) where it holds a figure the format cannot.
  virtual void check(const Resampled& part, std::size_t p) const = 0;
  /// The next partial, into `out` where the file is written as they come.
  virtual void take(Output* out, const Resampled& part) = 0;
  /// Ends the file, or writes it whole from what was set aside.
  virtual void end(Output& out) = 0;
  /// Where the file's written times repeat (the list's three decimals): the first place.
  virtual std::optional<RepeatedTime> repeated() const { return std::nullopt; }
};

/// One row of the table of formats.
struct FormatRow {
  Format format;
  std::string_view name;    // as -f and the Python module name it
  std::string_view ending;  // of output names that choose it (in any case); empty: none
  bool frames;              // holds frames (all partials at one time): written on the aligned grid
  bool every_step;          // a frame at every step of the grid: the writer needs the grid's step
  /// True when a file that starts with these bytes is in this format; null for the partial
  /// list, which is what an input is when no other format recognises it.
  bool (*recognises)(std::string_view start);
  /// Reads every partial; null for a format that is written only.
  PartialSet (*read)(Input& in, const ReadOptions& options);
  /// Reads as `read` does, handing the partials to the sink in their order as each is whole,
  /// and returns the input without them (`input` names its format); null where the format is
  /// read whole.
  PartialSet (*read_each)(Input& in, PartialSet input, PartialSink& sink);
  /// Writes the resampled set.
  void (*write)(Output& out, const ResampledSet& set, const WriteOptions& options);
  /// Throws Failure for what the writer could not write so that it reads back; null: nothing.
  void (*check)(const ResampledSet& set);
  bool records_rate = false;  // the writer records WriteOptions::rate (--rate applies)
  bool holds_noise = false;   // the writer writes the set's noise (others leave it out)
  double point_bytes = 0;     // the fewest bytes a written breakpoint takes, for the disk check
  double top_frequency = HUGE_VAL;  // the highest frequency its reader takes as it stands (every reader holds the lowest at kMinFreq)
  /// The writer of a file made one partial at a time on a grid of `step`; null where the
  /// format needs every partial at once.
  std::unique_ptr<PartialWriter> (*one_at_a_time)(const WriteOptions& options, double step) = nullptr;
};

/// Every row, the partial list first.
const std::vector<FormatRow>& format_table();

/// The row of a format.
const FormatRow& row_of(Format format);

/// The format named on the command line ("list", "sdif", ...), exactly as the table names it.
std::optional<Format> format_named(std::string_view name);

/// The formats written (every row with a writer), in the table's order.
std::vector<Format> written_formats();

/// Where the result holds a frequency that its format's reader would hold to its range (from
/// kMinFreq, for the list to kMaxFreq), a warning's text that names the first and counts them;
/// empty where it reads back as written.
std::string frequencies_not_held(const ResampledSet& set, Format format);

/// The same, counted partial by partial as a run fits them one at a time.
class FrequenciesNotHeld {
 public:
  explicit FrequenciesNotHeld(Format format) : format_(format) {}
  /// Counts the p-th partial's (from 0).
  void add(const Resampled& part, std::size_t p);
  /// What frequencies_not_held says of the partials counted.
  std::string text() const;

 private:
  Format format_;
  std::size_t count_ = 0, first_partial_ = 0;
  double first_freq_ = 0, first_time_ = 0;
};

/// The names of the formats written, for messages: "list, sdif, ... or ats".
std::string format_names();

/// The format an output name implies by its ending (in any case), else none.
std::optional<Format> format_of_name(std::string_view name);

/// True for the formats that hold frames (all partials at one time), which need the aligned grid.
bool is_frame_format(Format format);

/// The name of the input in messages: the path, or "standard input" for "-".
std::string input_name(const std::string& path);

/// Opens the input for reading ("-" is standard input, not opened again); -1 with errno set on failure.
int open_input(const std::string& path);

/// Closes a descriptor that open_input gave when the scope ends; standard input stays open.
struct InputCloser {
  int fd;
  ~InputCloser();
};

/// The most bytes a small file (a recipe, breakpoints) may hold: such files are kilobytes.
constexpr std::size_t kSmallFileCap = std::size_t{16} << 20;

/// The whole text of a small file (a recipe, breakpoints), `what` it is naming it in the
/// message where memory would not hold `per_byte` times its size. A regular file larger than
/// kSmallFileCap is refused before it is read, a pipe once it passes it, and anything else
/// (a device such as /dev/zero, a folder) at once. Throws Failure.
std::string read_text_file(const std::string& path, const std::string& what, double per_byte);

/// Reads every partial of the open input, in the format its first bytes show (the partial
/// list when no other format recognises them). Throws Failure naming the place, or saying
/// what a file that is no analysis at all (a sound, an archive, a picture) is.
PartialSet read_input(int fd, const std::string& name, const ReadOptions& options = {});

/// Reads the open input as read_input does, handing each partial to `sink` as it comes: the
/// formats whose row reads one partial at a time do so, in memory that does not grow with the
/// input; the others are read whole first.
void read_input_each(int fd, const std::string& name, const ReadOptions& options, PartialSink& sink);

/// Reads every partial of a file held in memory, as read_input(fd, name) would.
PartialSet read_input(std::string_view bytes, const std::string& name, const ReadOptions& options = {});

/// Reads a file held in memory one partial at a time, as read_input_each(fd, ...) would.
void read_input_each(std::string_view bytes, const std::string& name, PartialSink& sink, const ReadOptions& options = {});

/// Throws Failure when the resampled set holds what `format` cannot write so that it reads
/// back (figures beyond the partial list's single precision), before anything is written.
void check_result(const ResampledSet& set, Format format);

/// The writer that saves the resampled set in `format`.
Writer result_writer(const ResampledSet& set, Format format = Format::kList, WriteOptions options = {});

}  // namespace zarn

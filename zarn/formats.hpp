// The file formats a run reads and writes: the input's format recognised from its first
// bytes, and the writer of the result in the format asked for.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "partials.hpp"
#include "save.hpp"

namespace zarn {

/// The formats a result can be written in.
enum class Format { kList, kSdif, kSpearPartials, kSpearFrames };

/// The format named on the command line ("list", "sdif", "spear-partials", "spear-frames").
std::optional<Format> format_named(std::string_view name);

/// The format an output name implies: sdif for a name ending in ".sdif" (in any case), else none.
std::optional<Format> format_of_name(std::string_view name);

/// True for the formats that hold frames (all partials at one time), which need the aligned grid.
bool is_frame_format(Format format);

/// The name of the input in messages: the path, or "standard input" for "-".
std::string input_name(const std::string& path);

/// Opens the input for reading ("-" is standard input, not opened again); -1 with errno set on failure.
int open_input(const std::string& path);

/// Reads every partial of the open input, in the format its first bytes show: SDIF, either
/// text export of a partial editor, or else the partial list. Throws Failure naming the place,
/// or saying what a file that is no analysis at all (a sound, an archive, a picture) is.
PartialSet read_input(int fd, const std::string& name);

/// Reads every partial of a file held in memory, as read_input(fd, name) would.
PartialSet read_input(std::string_view bytes, const std::string& name);

/// Throws Failure when the resampled set holds what `format` cannot write so that it reads
/// back (figures beyond the partial list's single precision), before anything is written.
void check_result(const ResampledSet& set, Format format);

/// The writer that saves the resampled set in `format`; `written_by` names the program in
/// formats that record it.
Writer result_writer(const ResampledSet& set, Format format = Format::kList, std::string written_by = "zarn");

}  // namespace zarn

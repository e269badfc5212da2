// Saving a result: never over an existing file unless asked, atomically when replacing, and
// never leaving a partly written file behind. Every failure keeps the system's reason.
#pragma once

#include <functional>
#include <string>

#include "text_io.hpp"

namespace zarn {

/// Writes the whole result into an Output; the save functions do not care what it holds.
using Writer = std::function<void(Output&)>;

/// Writes the whole result straight into a file descriptor, for writers that need one (the
/// sound file library); returns 0, or the errno of the failure.
using FdWriter = std::function<int(int fd)>;

/// The FdWriter that writes through a buffered Output.
FdWriter through_output(const Writer& write);

/// How an attempt to save ended.
struct SaveOutcome {
  enum class Kind { kWritten, kExists, kNotAFile, kCannotCreate, kCannotWrite };
  Kind kind = Kind::kWritten;
  int error = 0;  // errno of the failing call, for kCannotCreate and kCannotWrite

  /// True when the file was written whole.
  bool written() const { return kind == Kind::kWritten; }
};

/// True if anything, even a dangling link, stands at `name`.
bool path_exists(const std::string& name);

/// Creates `name` exclusively (nothing that exists, not even a dangling link, is opened) and
/// writes it; a file that could not be written whole is removed again.
SaveOutcome save_new(const std::string& name, const FdWriter& write);
/// The same with a writer into an Output.
SaveOutcome save_new(const std::string& name, const Writer& write);

/// Writes a temporary file beside `name` and renames it over `name`: `name` is either replaced
/// whole or left as it was. Only a file or a link is replaced (a link itself, not followed);
/// a directory, a device or a pipe gives kNotAFile.
SaveOutcome save_replacing(const std::string& name, const FdWriter& write);
/// The same with a writer into an Output.
SaveOutcome save_replacing(const std::string& name, const Writer& write);

/// Writes into an already open descriptor (standard output); kCannotWrite on a failed write.
SaveOutcome save_to_fd(int fd, const Writer& write);

/// Asks on `console` for a name, read as words from `answers`, until one is new, then saves
/// under it. Its own lines go to the console as they always have; a name that cannot be
/// created or written also gets "zarn: NAME: reason" through `warn`. True when saved whole.
bool save_dialogue(Output& console, Input& answers, const Writer& write,
                   const std::function<void(const std::string&)>& warn);

}  // namespace zarn

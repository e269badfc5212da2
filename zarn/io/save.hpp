// Saving a result: never over an existing file unless asked, and never a partly written file
// under the result's name: each file is written whole first, then given its name (atomically
// when replacing). Every failure keeps the system's reason.
#pragma once

#include <functional>
#include <string>

#include "io/output.hpp"
#include "model/failure.hpp"

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
  enum class Kind { kWritten, kExists, kNotAFile, kNotOwned, kCannotCreate, kCannotWrite };
  Kind kind = Kind::kWritten;
  int error = 0;  // errno of the failing call; EISDIR for a directory (kNotAFile)

  /// True when the file was written whole.
  bool written() const { return kind == Kind::kWritten; }
};

/// The folder a file of this name goes in: "." for a bare name, "/" for one at the root.
std::string folder_of(const std::string& name);

/// True when the names `a` and `b` lead to one file: the same name in one folder, however
/// either is spelt (./a, dir/../a, a link to the folder), or one file under two links.
bool same_place(const std::string& a, const std::string& b);

/// What saving under `name` would meet, checked before any work: kExists (unless
/// `replacing`), kNotAFile for a directory (error EISDIR) or, when replacing, for anything
/// but a file or a link, kCannotCreate (with errno) for a folder that is missing or cannot be
/// written; kWritten when the way is clear.
SaveOutcome check_target(const std::string& name, bool replacing);

/// Writes a new file and gives it the name `name` once it is whole, never over anything that
/// exists, not even a dangling link; a run killed meanwhile leaves nothing under the name.
SaveOutcome save_new(const std::string& name, const FdWriter& write);
/// The same with a writer into an Output.
SaveOutcome save_new(const std::string& name, const Writer& write);

/// Writes a temporary file beside `name` and renames it over `name`: `name` is either replaced
/// whole or left as it was. Only a file or a link is replaced (a link itself, not followed);
/// a directory, a device or a pipe gives kNotAFile. The replacement keeps the file's owner and
/// permission bits (never set-ID bits); a file of another user that cannot be given back to
/// them gives kNotOwned.
SaveOutcome save_replacing(const std::string& name, const FdWriter& write);
/// The same with a writer into an Output.
SaveOutcome save_replacing(const std::string& name, const Writer& write);

/// Writes into an already open descriptor (standard output); kCannotWrite on a failed write.
SaveOutcome save_to_fd(int fd, const Writer& write);

/// The Failure that says why a file could not be saved under `name`, then `consequence` (what
/// followed: "nothing saved"), and what --force would do where it would help.
Failure save_failure(const std::string& name, const SaveOutcome& outcome, const std::string& consequence);

/// Saves a file under a name given on the command line: refused if it exists, unless
/// `replacing`. Throws save_failure's Failure when it is not written whole.
void save_as(const std::string& name, bool replacing, const FdWriter& write, const std::string& consequence);

}  // namespace zarn

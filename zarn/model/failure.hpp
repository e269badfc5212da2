// The one way a run fails, and the one place where messages are composed:
//   zarn: [FILE:LINE: | FILE: byte N: | FILE: ]what
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <utility>

namespace zarn {

/// What kind of thing went wrong, for programs; people read the message.
enum class FailureKind {
  kBadInput,     // a malformed file, a bad option or value, data the numerics cannot take
  kFileSystem,   // the system refused: a file that cannot be opened, read, created or written
  kOutOfMemory,  // the work would not fit in the memory available
};

/// A failure that ends the run; `message` is written to standard error exactly as it stands.
struct Failure : std::exception {
  std::string message;
  FailureKind kind = FailureKind::kBadInput;
  int error = 0;  // the errno when the system refused, else 0
  /// A message taken as it stands (the spline's own texts); everything else is composed below.
  explicit Failure(std::string text, FailureKind failure_kind = FailureKind::kBadInput, int system_error = 0)
      : message(std::move(text)), kind(failure_kind), error(system_error) {}
  /// The message, for handlers of any standard exception.
  const char* what() const noexcept override { return message.c_str(); }
};

/// "zarn: what\n".
std::string compose(std::string_view what);
/// "zarn: FILE: what\n", for a fault of a whole file.
std::string compose(std::string_view file, std::string_view what);
/// "zarn: FILE:LINE: what\n", for a fault at a line of a text file.
std::string compose(std::string_view file, long line, std::string_view what);
/// "zarn: FILE: byte OFFSET: what\n", for a fault at a place in a binary file.
std::string compose_at_byte(std::string_view file, std::uint64_t offset, std::string_view what);
/// "zarn: FILE:LINE:COLUMN: byte OFFSET: what\n", for a fault at a place in a text file read
/// whole (`text`, which holds OFFSET): its line and column (in characters of UTF-8) from 1.
std::string compose_in_text(std::string_view file, std::string_view text, std::uint64_t offset, std::string_view what);
/// "zarn: FILE: at SECONDS s: what\n", for a fault at a time in a sound.
std::string compose_at_time(std::string_view file, double seconds, std::string_view what);
/// "zarn: warning: what\n".
std::string compose_warning(std::string_view what);

/// "zarn: cannot write standard output: reason\n" for errno value `error`.
std::string stdout_failed(int error);

/// The file-system Failure "zarn: FILE: [WHAT: ]reason\n" for errno value `error`.
Failure system_failure(std::string_view file, int error, std::string_view what = {});

/// A file's name as messages show it: control bytes (a newline, an escape that would recolour
/// the terminal) as \xHH, everything else as it is.
std::string shown_name(std::string_view file);

/// A number of bytes as messages show it: in the unit that keeps it from 1 to 1023 (bytes,
/// KiB, MiB, ... EiB), with three significant figures ("512 bytes", "1.50 KiB", "5.31 GiB").
std::string shown_bytes(double bytes);

/// "WHAT needs" or, where WHAT names things of which there are many ("the points set aside":
/// its first word after "the" ends in 's', "analysis" aside), "WHAT need".
std::string what_needs(std::string_view what);

/// Quotes a token for an error message: at most 60 bytes shown, unprintable bytes escaped.
std::string quote(std::string_view token);

/// A Failure whose message is compose(args...).
template <typename... Parts>
Failure failure(const Parts&... parts) {
  return Failure(compose(parts...));
}

}  // namespace zarn

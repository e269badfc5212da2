// Numbers set aside in a temporary file that has no name, for a run that writes them back in
// another order than it makes them: its memory stays small however many there are.
#pragma once

#include <cstdint>
#include <string>

namespace zarn {

/// A temporary file with no name, read and written, in the folder of the environment's TMPDIR
/// (else, or where that takes none, /tmp), which `folder` is set to; -1 with errno where none
/// can be made.
int unnamed_temporary_file(std::string& folder);

/// The folder temporary files are made in: TMPDIR's where it is set, else /tmp (as
/// unnamed_temporary_file tries first).
std::string temporary_folder();

/// A file of doubles, appended to and read back anywhere; gone when the spool goes.
class Spool {
 public:
  /// A spool in the folder of the environment's TMPDIR, else /tmp; created on the first append.
  Spool() = default;
  ~Spool();
  Spool(const Spool&) = delete;
  Spool& operator=(const Spool&) = delete;

  /// Appends n doubles; returns where they start, counted in doubles. Throws Failure where the
  /// file cannot be made or written (a full disk).
  std::uint64_t append(const double* values, std::size_t n);
  /// Reads n doubles from `at` (as append gave it). Throws Failure where they cannot be read.
  void read(std::uint64_t at, double* values, std::size_t n) const;

 private:
  void open();
  int fd_ = -1;
  std::string folder_;
  std::uint64_t size_ = 0;  // in doubles
};

}  // namespace zarn

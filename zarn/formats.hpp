// The files a run reads and writes: opening the input and reading it, and the writer of the
// result.
#pragma once

#include <string>

#include "partial_file.hpp"
#include "save.hpp"

namespace zarn {

/// The name of the input in messages: the path, or "standard input" for "-".
std::string input_name(const std::string& path);

/// Opens the input for reading ("-" is standard input, not opened again); -1 with errno set on failure.
int open_input(const std::string& path);

/// Reads every partial of the open input; throws Failure naming the file and the place.
PartialSet read_input(int fd, const std::string& name);

/// Reads every partial of a file held in memory, as read_input(fd, name) would.
PartialSet read_input(std::string_view bytes, const std::string& name);

/// The writer that saves the resampled set as a partial list file.
Writer result_writer(const PartialSet& set);

}  // namespace zarn

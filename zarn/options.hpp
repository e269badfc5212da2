// The command line: zarn [OPTION]... INFILE [DUR], read once with getopt_long.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace zarn {

/// What the command line asks for.
struct Options {
  enum class Mode { kUsage, kHelp, kVersion, kRun };
  Mode mode = Mode::kUsage;
  std::string input;               // INFILE; "-" is standard input
  std::optional<std::string> step; // DUR as typed, checked once the input is open
  std::vector<std::string> extra;  // operands after DUR, ignored with a warning
  std::string output;              // -o FILE; "-" is standard output; empty: the dialogue
  bool force = false;              // --force: replace an existing output atomically
  bool quiet = false;              // -q: no banner, lengths or listing (implied by -o -)
  bool any_option = false;         // some option was given: the run is scripted

  /// True when the result goes to a named output rather than through the dialogue.
  bool named_output() const { return !output.empty(); }
  /// True when the result file itself goes to standard output.
  bool output_to_stdout() const { return output == "-"; }
};

/// Reads the command line; throws Failure with the message and a pointer to --help on a bad option.
Options parse_options(int argc, char** argv);

}  // namespace zarn

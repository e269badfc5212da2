// The usage text and --help, whose lists of formats, fits and edits come from their tables.
#pragma once

#include <string>

#include "io/output.hpp"

namespace zarn {

/// The usage text, printed when zarn is run without arguments.
void usage(Output& out);

/// The --help text.
void help(Output& out);

namespace detail {

/// An option's lines of help: `head` (as "--fit=FIT") from column 7, its text from column 22,
/// on lines of at most 86 columns, or on the lines the text sets with newlines.
std::string option_help(const std::string& head, const std::string& text);

}  // namespace detail

}  // namespace zarn

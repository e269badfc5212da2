// Several inputs in one run (--step=DUR INFILE...): each input run as a run of its own, in a
// process of its own, N at once (-j), its outputs named by the templates of -o, --plot, --wav
// and --f0. A file that fails is named with its reason and the others are still done; a
// terminal sees the progress, and a closing line says what was done.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/options.hpp"
#include "io/output.hpp"

namespace zarn {

/// The name that an output's template gives for `input`: for a folder (a name ending in '/'),
/// the input's name without its folder and ending, then `ending`, in that folder; else the
/// template with {name} (the input's name without its folder and ending) and {ext} (its
/// ending, without the dot) replaced.
std::string output_name(const std::string& pattern, const std::string& input, std::string_view ending);

/// The options of one input of a batch: its outputs named, and nothing printed on standard
/// output (the batch's progress and summary go to standard error).
Options one_input(const Options& batch, const std::string& input);

/// The same, its outputs named but its quietness as given: what one input named with --step
/// runs as, so that its templates name files as they would in a batch.
Options outputs_named_for(const Options& batch, const std::string& input);

/// Throws Failure where two inputs of the batch would write one file.
void check_batch_names(const Options& batch);

/// Runs every input of the batch, `options.jobs` at once (the cores when 0), each through
/// `one` in a process of its own; reports each failure with its file, the progress on a
/// terminal and a closing summary (neither with -q). 0 when every input was done.
int run_batch(const Options& options, const std::function<int(const Options&)>& one, Output& console);

}  // namespace zarn

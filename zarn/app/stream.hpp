// The run that takes its input one partial at a time: where nothing but the result file is
// asked for, each partial is read, laid on its grid, fitted and written before the next is
// read, so that the run's memory does not grow with its input.
#pragma once

#include <string>

#include "app/options.hpp"
#include "app/plan.hpp"
#include "io/output.hpp"

namespace zarn {

/// The run of such options: the same file, byte for byte, and the same failures and warnings
/// as the run that holds every partial. `nothing_saved` ends the messages of a failed save.
/// Each partial goes through one chain (grid, fit, figures, the format's writer of one partial
/// at a time, the sound); a format written once every partial is in (SDIF, whose frames merge
/// the partials by time) sets each partial's points aside until then, and an input its writer
/// cannot take one at a time is held whole. `written_by` names the program where the format
/// records it.
void run_streaming(const Options& options, Output& console, const std::string& nothing_saved, const std::string& written_by);

}  // namespace zarn

// The run as one plan of named steps (read, edit, grid, fit, list, save, extra writers), as
// a table: each step says when the options choose it and whether it needs every partial at
// once. The plan is executed whole (run_whole: every partial read, then each step on all of
// them) or one partial at a time (run_streaming: each partial through the grid, the fit and
// the save before the next is read) when no chosen step needs every partial. Both executors
// make the same checks of memory and disk before the work that needs them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/options.hpp"
#include "io/output.hpp"
#include "io/room.hpp"

namespace zarn {

/// What ends the message of a result that could not be saved.
inline constexpr const char* kNothingSaved = "nothing saved";

/// One step of the run.
struct StepRow {
  std::string_view name;
  bool (*chosen)(const Options& options);
  /// True when the step, as the options choose it, needs every partial at once.
  bool (*needs_every_partial)(const Options& options);
};

/// The names of the steps the options choose that need every partial ("edit, extra writers");
/// empty when the run can take its partials one at a time.
std::vector<std::string_view> steps_needing_every_partial(const Options& options);

/// True when the run may take its partials one at a time: a run of the options (not --info
/// or a batch) none of whose chosen steps needs every partial.
bool streams(const Options& options);

/// The disk room for the run's result: that of the file named with -o; unbounded for
/// standard output and for the dialogue, which asks for its name after the work.
Room result_room(const Options& options);

/// Counts `points` more breakpoints of the result against the room, in the result's format.
void take_room(Room& room, const Options& options, double points);

/// The run that holds every partial at once: reads, edits, lays the grid, fits, lists, saves
/// (through the dialogue where no -o names the result) and writes the extra outputs. `saved`
/// tells whether the result was written whole; returns the exit status.
int run_whole(const Options& options, Output& console, bool& saved, const std::string& written_by);

}  // namespace zarn

// What the run says besides its result: the one reporter of messages, the checks made before
// anything is read, and the warnings of options without effect and of results that may
// surprise.
#pragma once

#include <string_view>

#include "app/options.hpp"
#include "fit/resample.hpp"
#include "formats/partial_file.hpp"
#include "io/output.hpp"
#include "model/partials.hpp"

namespace zarn {

/// The one reporter: what was printed so far goes out first, then the message on standard
/// error. It allocates nothing, since it also reports running out of memory.
void report(Output& console, std::string_view message);

/// What can be refused without reading anything: standard input without -o, files that exist
/// or folders that cannot take them, one file named for two outputs, a picture or a sound
/// file this build cannot write; extra operands and options without effect are warned of.
void check_before_reading(const Options& options, Output& console);

/// Warns of the options that --info leaves without effect, since it writes nothing.
void warn_of_unused_with_info(const Options& options, Output& console);

/// A list file whose written times repeat cannot be read back: says so, with the first place.
void warn_of_repeated_times(const ResampledSet& set, Output& console);
/// The same warning for a repeated time found already.
void warn_of_repeated_time(const RepeatedTime& repeated, Output& console);

/// Says once how many partials the grid leaves without a point, since they are written empty.
void note_partials_without_points(const PartialSet& read, const GridPlan& plan, Output& console);

/// Says once that the noise of the set is left out of a result in `format`, which cannot hold it.
void note_noise_left_out(const ResampledSet& set, Format format, Output& console);

}  // namespace zarn

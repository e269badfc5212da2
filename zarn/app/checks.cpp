#include "app/checks.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "formats/formats.hpp"
#include "formats/partial_file.hpp"
#include "io/number_format.hpp"
#include "io/save.hpp"
#include "model/failure.hpp"
#include "render/png.hpp"
#include "render/plot.hpp"
#include "render/sound_file.hpp"

namespace zarn {

// The one reporter: what was printed so far goes out first, then the message on standard
// error. It allocates nothing, since it also reports running out of memory.
void report(Output& console, std::string_view message) {
  console.flush();
  // Control bytes that a name or a token brought in (an escape sequence) are shown, not obeyed;
  // the lines and tabs of the message stand.
  std::size_t from = 0;
  for (std::size_t i = 0; i < message.size(); ++i) {
    const auto c = static_cast<unsigned char>(message[i]);
    if ((c >= 0x20 && c != 0x7f) || c == '\n' || c == '\t') continue;
    write_all(STDERR_FILENO, message.data() + from, i - from);
    static const char hex[] = "0123456789abcdef";
    const char shown[4] = {'\\', 'x', hex[c >> 4], hex[c & 15]};
    write_all(STDERR_FILENO, shown, sizeof shown);
    from = i + 1;
  }
  write_all(STDERR_FILENO, message.data() + from, message.size() - from);
}

// What can be refused without reading anything: standard input without -o, files that exist
// or folders that cannot take them, a sound file this build cannot write. Extra operands and
// options without effect are warned of.
void check_before_reading(const Options& options, Output& console) {
  if (options.input == "-" && !options.named_output())
    throw failure("the analysis comes on standard input, so the dialogue cannot ask for a name there: name the output with -o FILE");
  if (options.input == "-" && options.morph_with == "-")
    throw failure("the input and --morph-with cannot both come on standard input: name one of them as a file");
  if (!options.extra.empty()) {
    std::string ignored = options.extra.size() == 1 ? "ignoring extra argument" : "ignoring extra arguments";
    for (const std::string& arg : options.extra) ignored += " '" + arg + "'";
    report(console, compose_warning(ignored));
  }
  if (options.force && !options.named_output())
    report(console, compose_warning(options.extra_outputs().empty()
                                        ? "--force has no effect without -o: the dialogue never replaces a file"
                                        : "--force applies to --plot, --wav and --f0 only: the dialogue never replaces a file"));
  if (options.rate_given && options.wav.empty() && !row_of(options.result_format()).records_rate)
    report(console, compose_warning("--rate has no effect without --wav"));
  if (options.whole && options.aligned_grid())
    report(console, compose_warning("--whole has no effect on the aligned grid, which " +
                                    std::string(options.align ? "--align asks for" : row_of(options.result_format()).name) +
                                    (options.align ? "" : " is written on")));
  if ((options.plot_log || options.plot_view.any) && options.plot.empty())
    report(console, compose_warning(options.plot_log ? "--plot-log has no effect without --plot"
                                                     : "--plot-range, --plot-band, --plot-floor and --plot-dots have no effect without --plot"));
  std::vector<std::string> named = options.extra_outputs();
  if (options.named_output() && !options.output_to_stdout()) named.push_back(options.output);
  for (std::size_t i = 0; i < named.size(); ++i)
    for (std::size_t j = i + 1; j < named.size(); ++j)
      if (same_place(named[i], named[j]))
        throw failure("'" + named[i] + "' and '" + named[j] + "' name one file for two outputs; nothing saved");
  // --force replaces no file that the result is made from: the input would be gone while it is
  // read, or once the result replaced it. (Without --force, any file there is refused anyway.)
  for (const std::string& n : options.force ? named : std::vector<std::string>{}) {
    for (const std::string* read : {&options.input, &options.morph_with})
      if (!read->empty() && *read != "-" && same_place(n, *read))
        throw failure(n, "is " + std::string(read == &options.input ? "the input" : "the other sound of the morph") +
                             " that the result is made from; nothing saved (--force replaces no input)");
    for (const std::string& recipe : options.edits.recipe_files)
      if (same_place(n, recipe)) throw failure(n, "is a recipe that the result is made from; nothing saved (--force replaces no input)");
    for (const std::string& curve : options.edits.curve_files)
      if (same_place(n, curve))
        throw failure(n, "holds breakpoints that the result is made from; nothing saved (--force replaces no input)");
  }
  for (const std::string& n : named) {
    const SaveOutcome clear = check_target(n, options.force);
    if (!clear.written()) throw save_failure(n, clear, "nothing saved");
  }
  if (!options.wav.empty()) check_sound_file_name(options.wav, options.bits, options.rate);
  if (!options.plot.empty()) check_picture_name(options.plot);
  if (is_png_name(options.plot) && !have_png())
    throw failure(options.plot, "this build of zarn draws SVG pictures only: librsvg and cairo were not found when it was built");
  if ((options.bits != SampleDepth::kDefault || options.normalize) && options.wav.empty())
    report(console, compose_warning("--bits and --normalize have no effect without --wav"));
  if (options.f0_range_given && options.f0.empty()) report(console, compose_warning("--f0-range has no effect without --f0"));
  if (options.edits.keep_formants && options.edits.scale.cents == 0 && options.edits.shape.cents.empty())
    report(console, compose_warning("--keep-formants has no effect without --transpose"));
  // Standard output into a pipe that nothing reads any more: said now, not after the work.
  if ((options.output_to_stdout() || options.wav == "-") && reader_gone(STDOUT_FILENO))
    throw Failure(stdout_failed(EPIPE), FailureKind::kFileSystem, EPIPE);
}

void warn_of_unused_with_info(const Options& options, Output& console) {
  std::vector<std::string> unused;
  if (options.named_output()) unused.push_back("-o");
  if (options.format) unused.push_back("--format");
  if (!options.plot.empty() || options.plot_log || options.plot_view.any) unused.push_back("--plot");
  if (!options.wav.empty() || options.rate_given || options.bits != SampleDepth::kDefault || options.normalize) unused.push_back("--wav");
  if (!options.f0.empty() || options.f0_range_given) unused.push_back("--f0");
  if (!chosen_edits(options.edits, {}).empty()) unused.push_back("the edits");
  if (options.fit || options.whole || options.align) unused.push_back("the grid and fit");
  if (options.force) unused.push_back("--force");
  if (!unused.empty()) {
    std::string list;
    for (std::size_t i = 0; i < unused.size(); ++i) list += (i == 0 ? "" : i + 1 == unused.size() ? " and " : ", ") + unused[i];
    // "the edits" and "the grid and fit" are many, alone too.
    const bool many = unused.size() > 1 || unused[0].compare(0, 4, "the ") == 0;
    report(console, compose_warning(list + (many ? " have" : " has") + " no effect with --info, which writes nothing"));
  }
}

// A list file whose written times repeat cannot be read back: say so, with the first place.
void warn_of_repeated_times(const ResampledSet& set, Output& console) {
  RepeatedTime repeated;
  if (first_repeated_time(set, repeated)) warn_of_repeated_time(repeated, console);
}

void warn_of_repeated_time(const RepeatedTime& repeated, Output& console) {
  char time[kMaxFixedChars];
  const std::string written(time, static_cast<std::size_t>(format_fixed(time, repeated.time, 3) - time));
  report(console, compose_warning("the times written for partial " + std::to_string(repeated.partial) + " repeat at " +
                                  written + " (three decimals cannot tell them apart at this time step); zarn "
                                  "cannot read this file back, since its times do not rise"));
}

// Says once how many partials the grid leaves without a point, since they are written empty.
void note_partials_without_points(const PartialSet& read, const GridPlan& plan, Output& console) {
  int without = 0;
  for (std::size_t p = 0; p < plan.points.size(); ++p)
    if (plan.points[p] == 0 && read.partials[p].M() > 0) ++without;
  if (without == 0) return;
  char at[32];
  std::snprintf(at, sizeof at, "%g", plan.step);
  report(console, compose_warning(std::to_string(without) + " of " + std::to_string(read.P()) + " partials " +
                                  (plan.aligned ? "hold no whole multiple of the step " + std::string(at)
                                                : "are shorter than the step " + std::string(at)) +
                                  " and have no points"));
}

void note_noise_left_out(const ResampledSet& set, Format format, Output& console) {
  if (set.noise.empty() || row_of(format).holds_noise) return;
  report(console, compose_warning("the noise beside the partials (" + std::to_string(set.noise.bands()) + " bands) is left out: the " +
                                  std::string(row_of(format).name) + " format cannot hold it (ATS can)"));
}

}  // namespace zarn

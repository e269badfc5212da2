// zarn: resamples sinusoidal partials on a uniform time grid with not-a-knot cubic splines.
//
// The run: read the partials, lay the grid, resample, list the result on the console, and
// save it, through the dialogue or under the name given with -o.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>

#include "app/batch.hpp"
#include "app/checks.hpp"
#include "app/dialogue.hpp"
#include "app/help.hpp"
#include "app/options.hpp"
#include "app/stream.hpp"
#include "edit/edits.hpp"
#include "edit/fundamental.hpp"
#include "fit/resample.hpp"
#include "formats/formats.hpp"
#include "io/output.hpp"
#include "io/save.hpp"
#include "io/tokens.hpp"
#include "model/failure.hpp"
#include "render/info.hpp"
#include "render/listing.hpp"
#include "render/outputs.hpp"
#include "render/plot.hpp"

#ifndef ZARN_VERSION
#define ZARN_VERSION "0.0.0"
#endif

namespace zarn {
namespace {

constexpr int kOk = 0;
constexpr int kFailed = 1;


constexpr const char* kNothingSaved = "nothing saved";

// Saves the result under the name given with -o, or on standard output for "-".
void save_named(const Options& options, const Writer& writer) {
  if (!options.output_to_stdout()) return save_as(options.output, options.force, through_output(writer), kNothingSaved);
  const SaveOutcome saved = save_to_fd(STDOUT_FILENO, writer);
  if (!saved.written()) throw Failure(stdout_failed(saved.error), FailureKind::kFileSystem, saved.error);
}

// The command line that the browser page completes with the filters of a selection: the
// options that shaped the partials, then (page_operands) an output named like this run's, the
// input and the step.
std::string page_command(const Options& options) {
  std::string command = "zarn";
  for (const std::string& option : options.shaping) command += " " + shell_quote(option);
  return command;
}
std::string page_operands(const Options& options) {
  std::string kept = "kept.txt";
  if (options.output_to_stdout()) kept = "-";
  const std::size_t dot = options.output.find_last_of('.'), slash = options.output.find_last_of('/');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash + 1)) kept = "kept" + options.output.substr(dot);
  return "-o " + shell_quote(kept) + " " + shell_quote(options.input) + (options.step ? " " + shell_quote(*options.step) : "");
}

// The picture, the sound and the fundamental of the result, where asked for; `result` is where
// the result was saved.
void save_extras(const Options& options, const ResampledSet& set, const PartialSet& read, const Fundamental& f0, const std::string& input,
                 double step, Fit fit, int rate, Output& console, const std::string& result) {
  if (!options.f0.empty())
    save_as(options.f0, options.force, through_output([&](Output& out) { out.put(fundamental_text(f0)); }), not_saved("fundamental", result));
  if (!options.plot.empty()) {
    std::string method;  // what the title says of the fit and the grid where they are not the usual
    if (fit != Fit::kSpline) method = std::string(fit_table()[static_cast<std::size_t>(fit)].name) + " fit";
    const char* grid = set.aligned ? "aligned grid" : options.whole ? "whole grid" : nullptr;
    if (grid != nullptr) method += (method.empty() ? "" : ", ") + std::string(grid);
    PageOptions picture;
    picture.rate = rate;
    picture.command = page_command(options);
    picture.operands = page_operands(options);
    PlotOptions& plot = picture.plot;
    plot.input = input;
    plot.step = step;
    plot.log_frequency = options.plot_log;
    plot.method = method;
    plot.range = options.plot_view.range;
    plot.band = options.plot_view.band;
    plot.dots = options.plot_view.dots;
    if (options.plot_view.floor) plot.floor_db = *options.plot_view.floor;
    save_picture(options.plot, options.force, set, read, picture, result);
  }
  if (!options.wav.empty())
    save_sound({options.wav, options.force, rate, options.bits, options.normalize, options.quiet}, set, result,
               [&](const std::string& m) { report(console, m); });
}

// Closes a file descriptor when the scope ends.
struct FdCloser {
  int fd;
  ~FdCloser() {
    if (fd > STDERR_FILENO) ::close(fd);
  }
};

// The partials of another input (--morph-with), a sound analysed as the input would be.
PartialSet read_other(const std::string& path, ReadOptions read) {
  read.sound_options = false;  // the analysis's options were given for the input
  FdCloser in{open_input(path)};
  if (in.fd < 0) throw system_failure(path, errno);
  return read_input(in.fd, path, read);
}

// --info: reads the input and says what it holds, writing nothing; the options that save,
// edit or draw are warned of, since nothing is saved, edited or drawn.
int describe(const Options& options, Output& console) {
  warn_of_unused_with_info(options, console);
  const std::string name = input_name(options.input);
  FdCloser input{open_input(options.input)};
  if (input.fd < 0) throw system_failure(name, errno);
  const double step = options.step ? parse_time_step(*options.step) : kDefaultTimeStep;
  const PartialSet read = read_input(input.fd, name, options.read);
  if (!options.quiet) write_info(console, info_lines(name, read, info_of(read, step), step));
  return kOk;
}

// The run as the options choose its steps; `saved` tells whether the result was written whole.
int run(const Options& options, Output& console, bool& saved) {
  switch (options.mode) {
    case Options::Mode::kUsage:
      usage(console);
      return kFailed;
    case Options::Mode::kHelp:
      help(console);
      return kOk;
    case Options::Mode::kVersion:
      console.put("zarn " ZARN_VERSION "\n"
                  "License GPL-3.0-or-later <https://gnu.org/licenses/gpl.html>: you may change and share it;\n"
                  "there is no warranty.\n");
      return kOk;
    case Options::Mode::kRun:
      break;
  }
  if (options.info) return describe(options, console);
  check_before_reading(options, console);
  if (streams(options)) {  // nothing asked for needs every partial at once
    run_streaming(options, console, kNothingSaved, "zarn " ZARN_VERSION);
    saved = true;
    return kOk;
  }

  // The classic console run speaks on standard output; a scripted one on standard error.
  const bool scripted = options.any_option;
  if (!options.quiet) write_banner(console);
  const std::string name = input_name(options.input);
  FdCloser input{open_input(options.input)};
  if (input.fd < 0) {
    if (scripted) throw system_failure(name, errno);
    console.put("File " + options.input + " not found\n");
    return kFailed;
  }
  const double step = options.step ? parse_time_step(*options.step) : kDefaultTimeStep;
  PartialSet read = read_input(input.fd, name, options.read);
  if (read.P() == 0 && (scripted || read.format != "list") && !read.passed_over.empty())
    report(console, compose_warning(name + ": no partials read: " + read.passed_over));
  if (!read.damaged.empty()) report(console, compose_warning(name + " " + read.damaged));
  EditOptions edits = options.edits;
  if (!options.morph_with.empty()) edits.morph_with = std::make_shared<const PartialSet>(read_other(options.morph_with, options.read));
  const int before_edits = read.P();
  apply_edits(read, chosen_edits(edits, name));
  if (edits.harmonic && before_edits > 0 && read.P() == 0)
    report(console, compose_warning(name + ": --harmonic left no partial: none lies on a harmonic of a fundamental found"));
  // The fundamental, where asked for, from the partials as edited (before the fit lets them go):
  // at every hop of the analysis that made them, or every step of the grid.
  const Fundamental f0 = options.f0.empty() ? Fundamental{}
                                            : fundamental(read, read.hop > 0 ? read.hop : step, options.f0_range.first, options.f0_range.second);

  const GridPlan plan = plan_grid(read, step,
                                  options.aligned_grid() ? GridKind::kAligned
                                  : options.whole        ? GridKind::kWhole
                                                         : GridKind::kOwn,
                                  name);
  if (scripted && !options.quiet) note_partials_without_points(read, plan, console);
  if (!options.quiet) write_lengths(console, plan.points);
  const Fit fit = fit_for(options.fit, read);
  ResampledSet set;
  if (options.plot.empty()) {
    set = resample_releasing(read, plan, fit);  // nothing after the fit needs the input
  } else {
    set = lay_planned(read, plan);
    resample(read, set, fit);  // the picture shows it
  }
  if (!options.quiet) write_listing(console, set);
  if (!options.f0.empty()) set.fundamental = f0;  // SDIF holds it too

  check_result(set, options.result_format());
  const int rate = options.sound_rate(read);
  if (!options.wav.empty()) check_sound_size(options.wav, sound_length(set, rate), rate, options.bits);
  const Writer writer = result_writer(set, options.result_format(), {"zarn " ZARN_VERSION, rate});
  std::string result = options.output;
  if (options.named_output()) {
    if (options.output_to_stdout()) console.flush();
    save_named(options, writer);
    saved = true;
  } else {
    Input answers(STDIN_FILENO, "standard input");
    saved = save_dialogue(console, answers, writer, [&](const std::string& m) { report(console, m); }, &result);
  }
  if (!saved) return kFailed;
  if (options.result_format() == Format::kList) warn_of_repeated_times(set, console);
  if (!options.quiet) note_noise_left_out(set, options.result_format(), console);
  save_extras(options, set, read, f0, name, step, fit, rate, console, result);
  return kOk;
}

// A closed standard stream would hand its number to the next file opened, and text meant
// for the console could end up in a file: fills such gaps with /dev/null. True if standard
// output was closed (output to it would be lost).
bool guard_standard_streams() {
  bool stdout_closed = false;
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) >= 0) continue;
    if (fd == STDOUT_FILENO) stdout_closed = true;
    if (::open("/dev/null", O_RDWR) != fd) std::_Exit(kFailed);
  }
  return stdout_closed;
}

}  // namespace
}  // namespace zarn

namespace zarn {
namespace {

// One run of the options, every failure through the one reporter; standard output failing
// after the result was saved is reported (once), but the result stands: the status is 0
// exactly when everything asked for was written whole.
int run_reported(const Options& options, bool stdout_closed) {
  Output console(STDOUT_FILENO);
  int status = 1;
  bool saved = false;
  std::string reported;
  try {
    // A run that prints nothing on standard output (-q, every output a named file) needs none.
    if (stdout_closed && !(options.mode == Options::Mode::kRun && options.quiet && options.named_output() &&
                           !options.output_to_stdout() && options.wav != "-")) {
      report(console, stdout_failed(EBADF));
      return 1;
    }
    status = options.batch() ? run_batch(options, [](const Options& one) { return run_reported(one, false); }, console)
                             : run(options, console, saved);
  } catch (const Failure& failure) {
    report(console, failure.message);
    reported = failure.message;
  } catch (const std::bad_alloc&) {
    report(console, "zarn: out of memory\n");
  } catch (const std::exception& e) {
    report(console, compose(std::string("internal error: ") + e.what()));
  }
  if (!console.flush()) {
    const std::string message = stdout_failed(console.error());
    if (message != reported) report(console, message);
    if (!saved) status = 1;
  }
  return status;
}

}  // namespace
}  // namespace zarn

int main(int argc, char** argv) {
  // A write past the file size limit, or into a closed pipe, fails with EFBIG or EPIPE and
  // is reported like any other failed write, instead of killing the process part-way.
  ::signal(SIGXFSZ, SIG_IGN);
  ::signal(SIGPIPE, SIG_IGN);
  const bool stdout_closed = zarn::guard_standard_streams();
  zarn::Options options;
  try {
    options = zarn::parse_options(argc, argv);
  } catch (const zarn::Failure& failure) {
    zarn::Output console(STDOUT_FILENO);
    zarn::report(console, failure.message);
    return 1;
  } catch (const std::bad_alloc&) {
    zarn::Output console(STDOUT_FILENO);
    zarn::report(console, "zarn: out of memory\n");
    return 1;
  } catch (const std::exception& e) {
    zarn::Output console(STDOUT_FILENO);
    zarn::report(console, zarn::compose(std::string("internal error: ") + e.what()));
    return 1;
  }
  return zarn::run_reported(options, stdout_closed);
}

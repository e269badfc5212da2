// The plan executed on every partial at once: what a run needs when an edit, the console
// listing, the dialogue or an extra output weighs every partial.
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <memory>
#include <string>
#include <utility>

#include "app/checks.hpp"
#include "app/dialogue.hpp"
#include "app/plan.hpp"
#include "edit/edits.hpp"
#include "edit/fundamental.hpp"
#include "fit/resample.hpp"
#include "formats/formats.hpp"
#include "io/save.hpp"
#include "io/spool.hpp"
#include "io/tokens.hpp"
#include "model/failure.hpp"
#include "model/memory.hpp"
#include "render/listing.hpp"
#include "render/outputs.hpp"
#include "render/page.hpp"
#include "render/plot.hpp"

namespace zarn {
namespace {

constexpr int kOk = 0;
constexpr int kFailed = 1;

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
std::string page_operands(const Options& options, const std::string& stem = "kept") {
  std::string named = stem + ".txt";
  if (options.output_to_stdout()) named = "-";
  const std::size_t dot = options.output.find_last_of('.'), slash = options.output.find_last_of('/');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash + 1)) named = stem + options.output.substr(dot);
  // An input whose name begins with '-' would be read as an option: it is named from its folder.
  const std::string input = options.input.size() > 1 && options.input[0] == '-' ? "./" + options.input : options.input;
  return "-o " + shell_quote(named) + " " + shell_quote(input) + (options.step ? " " + shell_quote(*options.step) : "");
}

// What the run holds between its steps.
struct Held {
  std::string name;  // of the input, in messages
  double step = 0;
  PartialSet read;
  Fundamental f0;
  std::vector<double> judged;  // what the filters judged, for the page, where changes followed them
  std::string fingerprint;     // of the partials as edited, for the page's recipe
  bool edited = false;         // some edit was applied
  Fit fit = Fit::kSpline;
  ResampledSet set;
  int rate = 0;
  // For --residual: the sound's samples as analysed, set aside on disk, and its partials
  // before any edit.
  std::unique_ptr<Spool> samples;
  PartialSet unedited;
};

// The sound analysed less its partials as analysed, on the run's grid and fit, at its rate.
void write_residual(const Options& options, Held& held, const std::string& result) {
  PartialSet& sines = held.unedited;
  sines.noise = Noise();
  const GridPlan plan = plan_grid(sines, held.step, options.grid_kind(), held.name, held.fit);
  const ResampledSet grid = resample_releasing(sines, plan, held.fit);
  std::uint64_t at = 0;
  save_residual({options.residual, options.force, static_cast<int>(sines.rate), options.bits, std::nullopt, options.quiet}, grid,
                sines.samples,
                [&](double* out, std::size_t n) {
                  if (n > 0) held.samples->read(at, out, n);
                  at += n;
                },
                result);
}

// The picture of the result, in the options' view.
PageOptions picture_options(const Options& options, const Held& held) {
  std::string method;  // what the title says of the fit and the grid where they are not the usual
  if (held.fit != Fit::kSpline) method = std::string(fit_table()[static_cast<std::size_t>(held.fit)].name) + " fit";
  const char* grid = held.set.aligned ? "aligned grid" : options.whole ? "whole grid" : nullptr;
  if (grid != nullptr) method += (method.empty() ? "" : ", ") + std::string(grid);
  PageOptions picture;
  picture.rate = held.rate;
  picture.command = page_command(options);
  picture.operands = page_operands(options);
  picture.judged = held.judged;
  picture.fit = std::string(fit_table()[static_cast<std::size_t>(held.fit)].name);
  picture.grid = held.set.aligned ? "aligned" : options.whole ? "whole" : "own";
  picture.fingerprint = held.fingerprint;
  // The page holds a partial's breakpoints packed where, fitted as the page fits them, they
  // give every point of the result within 0.005 cent and 0.01 dB, half what the page promises
  // (a spline that dips far below its breakpoints can magnify their rounding); else as doubles.
  picture.close_enough = [&held](std::size_t p, const Partial& unpacked) {
    const Resampled& want = held.set.partials[p];
    Resampled got;
    got.time = want.time;
    fit_partial(held.fit, breakpoints_of(unpacked), got);
    for (std::size_t j = 0; j < want.time.size(); ++j) {
      const double f = want.freq[j], g = got.freq[j], a = want.amp[j], b = got.amp[j];
      if (!(f > 0 && g > 0 && std::fabs(1200 * std::log2(g / f)) <= 0.005) && !(f == g)) return false;
      if ((a > 0) != (b > 0) || (a > 0 && !(std::fabs(20 * std::log10(b / a)) <= 0.01))) return false;
    }
    return true;
  };
  picture.replay = page_command(options);
  for (const std::string& filter : options.filtering) picture.replay += " " + shell_quote(filter);
  picture.replay += " --edits=recipe.json " + page_operands(options, "edited");
  PlotOptions& plot = picture.plot;
  plot.input = held.name;
  plot.step = held.step;
  plot.log_frequency = options.plot_log;
  plot.method = method;
  plot.range = options.plot_view.range;
  plot.band = options.plot_view.band;
  plot.dots = options.plot_view.dots;
  if (options.plot_view.floor) plot.floor_db = *options.plot_view.floor;
  return picture;
}

// The picture, the sound and the fundamental of the result, where asked for; `result` is where
// the result was saved.
void save_extras(const Options& options, Held& held, Output& console, const std::string& result) {
  if (!options.f0.empty())
    save_as(options.f0, options.force, through_output([&](Output& out) { out.put(fundamental_text(held.f0)); }),
            not_saved("fundamental", result));
  if (!options.plot.empty()) save_picture(options.plot, options.force, held.set, held.read, picture_options(options, held), result);
  if (!options.wav.empty())
    save_sound({options.wav, options.force, held.rate, options.bits, options.normalize, options.quiet}, held.set, result,
               [&](const std::string& m) { report(console, m); });
  if (!options.residual.empty()) write_residual(options, held, result);
}

// The partials of another input (--morph-with), a sound analysed as the input would be.
PartialSet read_other(const std::string& path, ReadOptions read) {
  read.sound_options.clear();  // the analysis's options were given for the input
  InputCloser in{open_input(path)};
  if (in.fd < 0) throw system_failure(path, errno);
  return read_input(in.fd, path, read);
}

// A recipe's file, read whole and parsed; its text and the tree read from it (a few times the
// text's size) are checked against memory as it is read.
std::shared_ptr<const Recipe> load_recipe(const std::string& path) {
  return std::make_shared<const Recipe>(parse_recipe(read_text_file(path, "the recipe " + path, 10.0), path));
}

// The edits' own inputs, read before the input is: a recipe that is no recipe, or another sound
// that cannot be read, is said before an hour of sound is analysed. (A recipe's fingerprint
// can only be checked on the partials.)
EditOptions load_edits(const Options& options) {
  EditOptions edits = options.edits;
  for (const std::string& path : edits.recipe_files) edits.recipes.push_back(load_recipe(path));
  if (!options.morph_with.empty()) edits.morph_with = std::make_shared<const PartialSet>(read_other(options.morph_with, options.read));
  return edits;
}

// The edits, and what the page and the fundamental take of the partials on the way.
void edit(const Options& options, EditOptions edits, Held& held, Output& console) {
  // Changes over time remake the partials on the points of the grid this run lays, as it fits.
  edits.shape.step = held.step;
  edits.shape.grid = options.grid_kind();
  edits.shape.fit = fit_for(options.fit, held.read);
  const int before_edits = held.read.P();
  if (const std::string past = freezes_past(edits.shape, input_end(held.read)); !past.empty())
    report(console, compose_warning(held.name + ": " + past));
  const std::vector<Edit> chosen = chosen_edits(edits, held.name);
  held.edited = !chosen.empty();
  const auto changes = chosen.begin() + static_cast<std::ptrdiff_t>(chosen_before_changes(edits));
  apply_edits(held.read, {chosen.begin(), changes});
  // A selection's filters judge the partials as the filters see them, not as changed after.
  if (changes != chosen.end() && is_page_name(options.plot)) held.judged = judged_by_filters(held.read);
  apply_edits(held.read, {changes, chosen.end()});
  if (edits.harmonic && before_edits > 0 && held.read.P() == 0)
    report(console, compose_warning(held.name + ": --harmonic left no partial: none lies on a harmonic of a fundamental found"));
  if (is_page_name(options.plot)) held.fingerprint = fingerprint(held.read);
  // The fundamental, where asked for, from the partials as edited (before the fit lets them go):
  // at every hop of the analysis that made them, or every step of the grid.
  if (!options.f0.empty())
    held.f0 = fundamental(held.read, held.read.hop > 0 ? held.read.hop : held.step, options.f0_range.first, options.f0_range.second);
}

// The grid, checked against memory and disk before it is laid, and the fit.
void grid_and_fit(const Options& options, Held& held, Output& console) {
  const GridKind kind = options.grid_kind();
  held.fit = fit_for(options.fit, held.read);
  const GridPlan plan = plan_grid(held.read, held.step, kind, held.name, held.fit);
  double points = 0;
  for (int n : plan.points) points += n;
  Room room = result_room(options);
  take_room(room, options, points);
  if (options.any_option && !options.quiet) note_partials_without_points(held.read, plan, console);
  if (!options.quiet) write_lengths(console, plan.points);
  if (options.plot.empty()) {
    held.set = resample_releasing(held.read, plan, held.fit);  // nothing after the fit needs the input
  } else {
    held.set = lay_planned(held.read, plan);
    resample(held.read, held.set, held.fit);  // the picture shows it
  }
}

}  // namespace

int run_whole(const Options& options, Output& console, bool& saved, const std::string& written_by) {
  // The classic console run speaks on standard output; a scripted one on standard error.
  const bool scripted = options.any_option;
  if (!options.quiet) write_banner(console);
  Held held;
  held.name = input_name(options.input);
  InputCloser input{open_input(options.input)};
  if (input.fd < 0) {
    if (scripted) throw system_failure(held.name, errno);
    console.put("File " + options.input + " not found\n");
    return kFailed;
  }
  held.step = options.step ? parse_time_step(*options.step) : kDefaultTimeStep;
  EditOptions edits = load_edits(options);
  ReadOptions read = options.read;
  read.sound.spectrogram = is_page_name(options.plot);  // the page shows it beneath the partials
  if (!options.residual.empty()) {
    held.samples = std::make_unique<Spool>();
    read.sound.samples_seen = [&held](const double* x, std::size_t n) { held.samples->append(x, n); };
  }
  held.read = read_input(input.fd, held.name, read);
  if (!options.residual.empty()) {
    // A copy of the partials as analysed, which the edits and the fit leave alone.
    double points = 0;
    for (const Partial& p : held.read.partials) points += static_cast<double>(p.time.size());
    check_memory(points * 4 * sizeof(double), "the partials kept for --residual");
    held.unedited.partials = held.read.partials;
    held.unedited.places = held.read.places;
    held.unedited.rate = held.read.rate;
    held.unedited.samples = held.read.samples;
  }
  if (held.read.P() == 0 && (scripted || held.read.format != "list") && !held.read.passed_over.empty())
    report(console, compose_warning(held.name + ": no partials read: " + held.read.passed_over));
  if (!held.read.damaged.empty()) report(console, compose_warning(held.name + " " + held.read.damaged));
  edit(options, std::move(edits), held, console);
  grid_and_fit(options, held, console);
  if (!options.quiet) write_listing(console, held.set);
  if (!options.f0.empty()) held.set.fundamental = held.f0;  // SDIF holds it too

  check_result(held.set, options.result_format());
  // An edit may carry frequencies past what the format is read back with: said, not refused.
  if (held.edited)
    if (const std::string moved = frequencies_not_held(held.set, options.result_format()); !moved.empty())
      report(console, compose_warning(held.name + ": " + moved));
  held.rate = options.sound_rate(held.read);
  if (!options.wav.empty()) check_sound_size(options.wav, sound_length(held.set, held.rate), held.rate, options.bits);
  if (!options.residual.empty())
    check_sound_size(options.residual, static_cast<double>(held.unedited.samples), static_cast<int>(held.unedited.rate), options.bits);
  const Writer writer = result_writer(held.set, options.result_format(), {written_by, held.rate});
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
  if (options.result_format() == Format::kList) warn_of_repeated_times(held.set, console);
  if (!options.quiet) note_noise_left_out(held.set, options.result_format(), console);
  save_extras(options, held, console, result);
  return kOk;
}

}  // namespace zarn

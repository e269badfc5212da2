// The command line: zarn [OPTION]... INFILE [DUR], read once with getopt_long.
#pragma once

#include <optional>
#include <utility>
#include <string>
#include <string_view>
#include <vector>

#include "fit/fit.hpp"
#include "fit/resample.hpp"
#include "formats/formats.hpp"
#include "edit/edits.hpp"
#include "edit/fundamental.hpp"
#include "render/sound.hpp"
#include "render/sound_file.hpp"

namespace zarn {

/// What the picture shows, as the options ask.
struct PlotView {
  std::optional<std::pair<double, double>> range, band;  // times and frequencies drawn
  std::optional<double> floor;                           // dB under which nothing is drawn
  bool dots = true;                                      // the input's breakpoints
  bool any = false;                                      // some of these were given
};

/// What the command line asks for.
struct Options {
  enum class Mode { kUsage, kHelp, kVersion, kRun };
  Mode mode = Mode::kUsage;
  std::string input;               // INFILE; "-" is standard input
  std::optional<std::string> step; // DUR as typed, checked once the input is open
  std::vector<std::string> extra;  // operands after DUR, ignored with a warning
  std::vector<std::string> inputs; // with --step: every operand an input (INFILE is the first)
  int jobs = 0;                    // -j N: inputs run at once; 0: as many as the cores
  std::string output;              // -o FILE; "-" is standard output; empty: the dialogue
  bool force = false;              // --force: replace an existing output atomically
  bool quiet = false;              // -q: no banner, lengths or listing (implied by -o -)
  bool info = false;               // --info: describe the input instead of resampling it
  std::optional<Format> format;    // -f FORMAT; none: chosen by the output's name
  bool align = false;              // --align: the aligned grid for every format
  bool whole = false;              // --whole: each partial's grid on to its last breakpoint
  std::optional<Fit> fit;          // --fit: how the tracks are fitted; none: fit_for's choice
  std::string plot;                // --plot=FILE.svg: a picture of the result; empty: none
  bool plot_log = false;           // --plot-log: a logarithmic frequency axis
  PlotView plot_view;              // --plot-range, --plot-band, --plot-floor, --plot-dots
  std::string wav;                 // --wav=FILE: the result as sound; empty: none
  std::string residual;            // --residual=FILE: the sound analysed less its partials; empty: none
  std::string f0;                  // --f0=FILE: the fundamental over time, as text; empty: none
  std::pair<double, double> f0_range{kFundamentalLo, kFundamentalHi};  // --f0-range=LO:HI
  bool f0_range_given = false;
  std::string morph_with;          // --morph-with=FILE: the other sound of a morph (--morph sets its weight)
  int rate = kDefaultRate;         // --rate=HZ: the sound's sample rate
  bool rate_given = false;         // --rate was given (it has no effect without --wav)
  SampleDepth bits = SampleDepth::kDefault;  // --bits: the sound's samples
  std::optional<double> normalize;           // --normalize[=DB]: the sound's peak, in dB
  ReadOptions read;                // --resolution, --hop, --floor, --min-track, --channel: a sound's analysis
  EditOptions edits;               // --band, --min-duration, ... --gain: the table of edits
  std::vector<std::string> shaping;  // the options that shape the partials, as --NAME=VALUE
  std::vector<std::string> filtering;  // the filters' options, as --NAME=VALUE
  bool any_option = false;         // some option was given: the run is scripted
  unsigned given = 0;              // the kinds (OptionFlag) of the table's options given

  /// True when the result goes to a named output rather than through the dialogue.
  bool named_output() const { return !output.empty(); }
  /// The format of the result: -f, else what the output's name implies, else the list.
  Format result_format() const {
    if (format) return *format;
    return format_of_name(output).value_or(Format::kList);
  }
  /// True when the grid is the aligned one: asked for, or needed by a frame format.
  bool aligned_grid() const { return align || is_frame_format(result_format()); }
  /// The grid of the run: the aligned one, each partial's whole grid, or its own.
  GridKind grid_kind() const { return aligned_grid() ? GridKind::kAligned : whole ? GridKind::kWhole : GridKind::kOwn; }
  /// The files a run writes besides the result: the picture, the sound and the fundamental,
  /// where asked for.
  std::vector<std::string> extra_outputs() const {
    std::vector<std::string> names;
    for (const std::string* n : {&plot, &wav, &f0, &residual})
      if (!n->empty() && *n != "-") names.push_back(*n);
    return names;
  }
  /// True when the result file itself goes to standard output.
  bool output_to_stdout() const { return output == "-"; }

  /// The sample rate of the sound made and the one ATS records: --rate, else that of the sound
  /// analysed (so that its resynthesis matches it sample for sample) where a sound file may
  /// have it, else 44100.
  int sound_rate(const PartialSet& analysed) const {
    if (rate_given || !(analysed.rate >= kMinRate && analysed.rate <= kMaxRate) || analysed.rate != static_cast<int>(analysed.rate)) return rate;
    return static_cast<int>(analysed.rate);
  }

  /// True for a run of several inputs (--step=DUR INFILE...).
  bool batch() const { return inputs.size() > 1; }
};

/// Time step used when the command line gives none.
constexpr double kDefaultTimeStep = 0.05;

/// Reads the time step argument: a number, finite and above zero; throws Failure otherwise.
double parse_time_step(std::string_view text);

/// The names of every long option, the edits' among them, as --help and the man page show them.
std::vector<std::string> long_option_names();

/// Reads the command line; throws Failure with the message and a pointer to --help on a bad option.
Options parse_options(int argc, char** argv);

}  // namespace zarn

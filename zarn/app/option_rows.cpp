#include "app/option_rows.hpp"

#include <cmath>
#include <string>

#include "app/options.hpp"
#include "io/number_parse.hpp"
#include "model/failure.hpp"

namespace zarn {

namespace detail {

void bad_option(const std::string& what) { throw Failure(compose(what) + "Try 'zarn --help' for more information.\n"); }

double finite_number(const std::string& name, const char* text) {
  double v = 0;
  if (!parse_double(text, v) || !std::isfinite(v)) bad_option("--" + name + " needs a finite number, not '" + text + "'");
  return v;
}

std::pair<double, double> number_pair(const std::string& name, const char* what, std::string_view text) {
  const auto colon = text.find(':');
  double lo = 0, hi = 0;
  if (colon == std::string_view::npos || !parse_double(text.substr(0, colon), lo) || !parse_double(text.substr(colon + 1), hi))
    bad_option("--" + name + " needs LO:HI, two " + what + ", not '" + std::string(text) + "'");
  return {lo, hi};
}

}  // namespace detail

namespace {

using detail::bad_option;
using detail::finite_number;
using detail::number_pair;

// A number above zero for the analysis.
double above_zero(const char* name, const char* text) {
  const double v = finite_number(name, text);
  if (!(v > 0)) bad_option("--" + std::string(name) + " needs a number above zero, not '" + text + "'");
  return v;
}

// The name of a file for an extra output; standard output only for the sound.
std::string file_name(const char* name, const char* text, bool stdout_allowed) {
  if (*text == '\0' || (!stdout_allowed && std::string_view(text) == "-")) bad_option(std::string("--") + name + " needs the name of a file");
  return text;
}

// A picture's range LO:HI of times or frequencies.
std::pair<double, double> view_range(const char* name, const char* what, const char* text) {
  const auto [lo, hi] = number_pair(name, what, text);
  if (!std::isfinite(lo) || !std::isfinite(hi) || !(lo < hi))
    bad_option("--" + std::string(name) + "=" + text + ": LO and HI must be finite, LO below HI");
  return {lo, hi};
}

void take_format(const char* text, Options& o) {
  o.format = format_named(text);
  if (!o.format) bad_option("unknown format '" + std::string(text) + "' (" + format_names() + ")");
}

void take_fit(const char* text, Options& o) {
  const std::optional<Fit> fit = fit_named(text);
  if (!fit) bad_option("unknown fit '" + std::string(text) + "' (" + fit_names() + ")");
  o.fit = *fit;
}

void take_morph(const char* text, Options& o) {
  std::string problem;
  o.edits.morph = parse_morph_weight(text, problem);
  if (!problem.empty()) bad_option("--morph=" + std::string(text) + ": " + problem);
}

void take_channel(const char* text, Options& o) {
  if (!parse_count(text, o.read.sound.channel) || o.read.sound.channel < 1)
    bad_option("--channel needs a channel number from 1, not '" + std::string(text) + "'");
}

void take_plot_dots(const char* text, Options& o) {
  if (std::string_view(text) != "yes" && std::string_view(text) != "no") bad_option("--plot-dots takes yes or no, not '" + std::string(text) + "'");
  o.plot_view.dots = std::string_view(text) == "yes";
  o.plot_view.any = true;
}

void take_bits(const char* text, Options& o) {
  o.bits = depth_named(text);
  if (o.bits == SampleDepth::kDefault) bad_option("--bits takes 16, 24, 32 or float, not '" + std::string(text) + "'");
}

void take_normalize(const char* text, Options& o) {
  o.normalize = text == nullptr ? -1.0 : finite_number("normalize", text);
  if (*o.normalize > 0) bad_option("--normalize takes a peak of 0 dB or below, not '" + std::string(text) + "'");
}

void take_rate(const char* text, Options& o) {
  if (!parse_count(text, o.rate) || o.rate < kMinRate || o.rate > kMaxRate)
    bad_option("the sample rate must be a whole number of hertz from " + std::to_string(kMinRate) + " to " + std::to_string(kMaxRate) +
               ", not '" + text + "'");
  o.rate_given = true;
}

void take_f0_range(const char* text, Options& o) {
  const auto [lo, hi] = number_pair("f0-range", "frequencies in hertz", text);
  const std::string problem = fundamental_range_problem(lo, hi);
  if (!problem.empty()) bad_option("--f0-range=" + std::string(text) + ": " + problem);
  o.f0_range = {lo, hi};
  o.f0_range_given = true;
}

constexpr unsigned kShapes = kShapesPartials, kSound = kShapesPartials | kSoundsOnly, kOutput = kNeedsEveryPartial | kExtraOutput;

const std::vector<OptionRow> kRows = {
    // The result's format, grid and fit: their help names the tables of formats and fits.
    {"format", 'f', "FORMAT", false, "", kShapes, take_format, "result"},
    {"align", 0, "", false, "", kShapes, [](const char*, Options& o) { o.align = true; }, "result"},
    {"fit", 0, "FIT", false, "", kShapes, take_fit, "fit"},
    {"whole", 0, "", false, "each partial's grid goes on to its last breakpoint", kShapes, [](const char*, Options& o) { o.whole = true; }, "fit"},
    // A sound's analysis.
    {"resolution", 0, "HZ", false, "when INFILE is a sound file, analyse it into partials this far apart at least (40); the window follows from it",
     kSound, [](const char* t, Options& o) { o.read.sound.analysis.resolution = above_zero("resolution", t); }, "analysis"},
    {"hop", 0, "SECONDS", false, "the time between frames of the analysis (a quarter window; at most the window)", kSound,
     [](const char* t, Options& o) { o.read.sound.analysis.hop = above_zero("hop", t); }, "analysis"},
    {"floor", 0, "DB", false, "leave out peaks quieter than DB (-90; 0 dB: full scale)", kSound,
     [](const char* t, Options& o) { o.read.sound.analysis.floor = finite_number("floor", t); }, "analysis"},
    {"min-track", 0, "SECONDS", false,
     "leave out partials that span less than this, first to last breakpoint (by default those seen in under three frames)", kSound,
     [](const char* t, Options& o) { o.read.sound.analysis.min_track = above_zero("min-track", t); }, "analysis"},
    {"channel", 0, "N", false, "analyse channel N (from 1) rather than the mean of all", kSound, take_channel, "analysis"},
    {"no-noise", 0, "", false, "leave out the noise beside the partials (by default measured in 25 critical bands, frame by frame)", kSound,
     [](const char*, Options& o) { o.read.sound.analysis.noise = false; }, "analysis"},
    {"no-warp", 0, "", false,
     "analyse every frame in the sound's own time (by default, where a fundamental bends, as in a vibrato, each frame is seen in a "
     "time warped by it, so that its harmonics hold still)",
     kSound, [](const char*, Options& o) { o.read.sound.analysis.warp = false; }, "analysis"},
    // The extra outputs: the picture, the sound, the fundamental.
    {"plot", 0, "FILE", false,
     "also draw the resampled partials and their input breakpoints as an SVG picture, PNG for a name ending in .png, or for "
     ".html a page to zoom, read out, select and play them in a browser",
     kOutput, [](const char* t, Options& o) { o.plot = file_name("plot", t, false); }, "outputs"},
    {"plot-log", 0, "", false, "with --plot, a logarithmic frequency axis", 0, [](const char*, Options& o) { o.plot_log = true; }, "outputs"},
    {"plot-range", 0, "T0:T1", false, "draw only the times from T0 to T1", 0,
     [](const char* t, Options& o) { o.plot_view.range = view_range("plot-range", "times in seconds", t), o.plot_view.any = true; }, "outputs"},
    {"plot-band", 0, "F0:F1", false, "draw only the frequencies from F0 to F1", 0,
     [](const char* t, Options& o) { o.plot_view.band = view_range("plot-band", "frequencies in hertz", t), o.plot_view.any = true; }, "outputs"},
    {"plot-floor", 0, "DB", false, "leave out what is quieter", 0,
     [](const char* t, Options& o) { o.plot_view.floor = finite_number("plot-floor", t), o.plot_view.any = true; }, "outputs"},
    {"plot-dots", 0, "yes|no", false, "draw the input's breakpoints as dots, or not", 0, take_plot_dots, "outputs"},
    {"wav", 0, "FILE", false,
     "also resynthesise the result as sound, mono; the name's ending chooses the container: .wav, .aiff or .aif, .caf, .flac, "
     ".ogg, .opus; --wav=- the sound, as WAV, on standard output (with -o FILE)",
     // Made from the partials as they are fitted, set aside on disk: it needs none held.
     kExtraOutput, [](const char* t, Options& o) { o.wav = file_name("wav", t, true); }, "outputs"},
    {"residual", 0, "FILE", false,
     "when INFILE is a sound file, also write what its partials leave: the sound less the partials as analysed (before any "
     "edit, on this run's grid, locked to their phases, without noise), at its rate and length; the partials' sound "
     "(--no-noise --wav) and this add up to it",
     kSoundsOnly | kOutput, [](const char* t, Options& o) { o.residual = file_name("residual", t, false); }, "outputs"},
    {"rate", 0, "HZ", false, "the sound's sample rate, 1000 to 768000 (44100; for a sound file analysed, its own, and the sound lasts as long, to the sample)",
     0, take_rate, "outputs"},
    {"bits", 0, "BITS", false, "the sound's samples: 16, 24 or 32-bit integers (dithered), or float (the default; 24 in FLAC); .ogg and .opus choose their own",
     0, take_bits, "outputs"},
    {"normalize", 0, "DB", true, "scale the sound so that its peak is DB (-1)", 0, take_normalize, "outputs"},
    {"f0", 0, "FILE", false,
     "also write the fundamental as text, a line per analysis hop (or grid step): time Hz confidence, Hz 0 where there is none",
     kOutput, [](const char* t, Options& o) { o.f0 = file_name("f0", t, false); }, "outputs"},
    {"f0-range", 0, "LO:HI", false, "look for the fundamental within LO to HI Hz (30:2000)", 0, take_f0_range, "outputs"},
    {"edits", 0, "RECIPE", false,
     "replay the edits of a recipe that the browser page saved (JSON), after every other edit; given more than once, each in "
     "turn",
     kShapes | kNeedsEveryPartial,
     [](const char* t, Options& o) {
       if (*t == '\0' || std::string_view(t) == "-") bad_option("--edits needs the name of a recipe file");
       o.edits.recipe_files.push_back(t);
     },
     "outputs"},
    {"morph-with", 0, "FILE", false, "morph towards FILE's partials (a sound analysed alike), as far as --morph says", kShapes | kNeedsEveryPartial,
     [](const char* t, Options& o) {
       if (*t == '\0') bad_option("--morph-with needs the name of a file");
       o.morph_with = t;
     },
     "outputs"},
    {"morph", 0, "W", false,
     "W from 0 to 1, or T:W,T:W,... over this input's seconds; partials matched by harmonic number, else by frequency",
     kShapes | kNeedsEveryPartial, take_morph, "outputs"},
};

}  // namespace

const std::vector<OptionRow>& option_rows() { return kRows; }

}  // namespace zarn

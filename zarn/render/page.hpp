// The picture as a page for the browser: one self-contained HTML file that draws the resampled
// partials on a canvas, zooms and pans, reads out the partial under the pointer, selects
// partials and plays them through Web Audio, and shows the command line that keeps them.
// The partials go in as their breakpoints before the grid, packed (see detail::pack), and the
// script lays the run's grid and fits it as the tool does; so it can edit them (delete, keep,
// transpose, shift, stretch, gain) with undo, and keep its edits as a recipe that the tool
// replays (--edits). A sound's page also holds a spectrogram of the sound.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "io/output.hpp"
#include "model/partials.hpp"
#include "render/plot.hpp"

namespace zarn {

/// What the page says of the run beyond the picture's options.
struct PageOptions {
  PlotOptions plot;     // the title, axes, floor and view, as for the still picture
  int rate = 44100;     // the sample rate Play uses, as --wav would
  std::string command;  // the run's command line up to its filters ("zarn --hop=0.01 ...")
  std::string operands; // its input and step, as typed and quoted for the shell
  /// What the filters judge of each partial (judged_by_filters) where the run changed the
  /// partials after its filters; empty: the partials as read are judged.
  std::vector<double> judged;
  std::string fit = "spline";  // the fit's name, which the script applies
  std::string grid = "own";    // "own", "whole" or "aligned"
  std::string fingerprint;     // of the partials the page holds, which a recipe names
  std::string replay;          // the command that replays a recipe saved as recipe.json, whole
  /// Whether a partial's breakpoints as the page unpacks them give the result closely enough
  /// (see detail::pack); none: every partial that can be packed is.
  std::function<bool(std::size_t, const Partial&)> close_enough;
};

/// What the filters judge of each partial, three numbers a partial: its mean frequency, its
/// loudest level in dB and its duration (NaN for a partial with no breakpoints).
std::vector<double> judged_by_filters(const PartialSet& set);

/// Writes the page of the resampled set; `read` (the partials it was resampled from, in its
/// order) gives each partial's mean frequency, loudest level and duration, as the filters
/// judge them, for the command line of a selection.
void write_page(Output& out, const ResampledSet& set, const PartialSet& read, const PageOptions& options);

/// True for a name that ends in ".html", in any case.
bool is_page_name(std::string_view name);

/// Text quoted for a POSIX shell where it needs it: as it is when made of letters, digits and
/// @%+=:,./_- only, else within single quotes.
std::string shell_quote(std::string_view text);

namespace detail {

/// The quanta of packed breakpoints: times between a partial's first and last in units of
/// 1e-7 s, frequencies in 0.002 cent, levels in 0.002 dB.
constexpr double kTimeUnit = 1e-7, kCentUnits = 600000, kDbUnits = 500;

/// A set's breakpoints packed for the page. Per partial: its count, its first and last times
/// exactly, and either its breakpoints as doubles (`raw`, where a value cannot be packed: a
/// frequency not above 0, an amplitude below 0, anything not finite) or, in `bits`, each
/// field's steps Rice-coded with a parameter of its own: the times between as whole units
/// (less the least step, over their common divisor), frequencies as log2 units from the one
/// before, levels as units from the last that sounded (0 for silence).
struct Packed {
  std::vector<std::uint32_t> count;
  std::vector<double> head;  // per partial: first, last, first frequency's units, first level's units, least step, divisor
  std::vector<unsigned char> rice;  // per partial: the times', frequencies' and levels' parameters, and 1 for raw
  std::vector<unsigned char> bits;  // lowest bit first
  std::vector<double> raw;          // time, frequency, amplitude of each breakpoint of the raw partials
};

/// Packs every partial's breakpoints; where `close_enough` is given, a partial whose unpacked
/// breakpoints it refuses (given the partial's index) is held raw.
Packed pack(const PartialSet& set, const std::function<bool(std::size_t, const Partial&)>& close_enough = {});

/// Partial p of `packed`, unpacked as the page's script unpacks it; its bits start at `byte`.
Partial unpack(const Packed& packed, std::size_t p, std::size_t byte);

/// Bytes in base64 (RFC 4648, with padding).
std::string base64(const unsigned char* bytes, std::size_t n);

/// Text as a JSON string, quotes included: control characters, quotes, backslashes and "<"
/// escaped (so that it cannot end the script it sits in), broken UTF-8 as U+FFFD.
std::string json_string(std::string_view text);


}  // namespace detail

}  // namespace zarn

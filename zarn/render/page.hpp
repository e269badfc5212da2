// The picture as a page for the browser: one self-contained HTML file that draws the resampled
// partials on a canvas, zooms and pans, reads out the partial under the pointer, selects
// partials and plays them through Web Audio, and shows the command line that keeps them.
// The partials go in as base64 binary arrays (frequencies as 32-bit floats, levels in
// hundredths of a decibel), so a dense analysis stays small; the script draws each partial's
// points at the view's resolution.
#pragma once

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

/// Bytes in base64 (RFC 4648, with padding).
std::string base64(const unsigned char* bytes, std::size_t n);

/// Text as a JSON string, quotes included: control characters, quotes, backslashes and "<"
/// escaped (so that it cannot end the script it sits in), broken UTF-8 as U+FFFD.
std::string json_string(std::string_view text);

/// A level in hundredths of a decibel for the page: -32768 for silence (an amplitude of 0 or
/// less, or one that is not a finite number); levels beyond the range of 16 bits held at its ends.
short centi_db(double amp);

}  // namespace detail

}  // namespace zarn

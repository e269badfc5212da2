// A picture of a resampled set: an SVG file with time across and frequency up, each
// resampled partial a line whose opacity follows its level, and its input breakpoints as
// dots beside it, so that a fit that misses them is seen at a glance.
#pragma once

#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <string_view>
#include <vector>

#include "model/partials.hpp"
#include "io/output.hpp"
#include "render/markup.hpp"

namespace zarn {

/// What the picture says about the run, and how its frequency axis is drawn.
struct PlotOptions {
  std::string input;           // the input's name, for the title
  double step = 0;             // the grid's step, for the title
  bool log_frequency = false;  // a logarithmic frequency axis
  std::string method = {};     // the fit and grid where not the usual ones, for the title
  double floor_db = -std::numeric_limits<double>::infinity();  // what is quieter is left out
  bool dots = true;                                             // the input's breakpoints drawn
  std::optional<std::pair<double, double>> range = {};          // the times drawn (zoom); all
  std::optional<std::pair<double, double>> band = {};           // the frequencies drawn; all
};

/// Writes the picture of the resampled set, with the breakpoints of `input` (the partials
/// it was resampled from; none when null) beside it. Points closer together than a fraction of
/// a pixel are merged, so that big analyses give files that a browser opens quickly.
void write_plot(Output& out, const ResampledSet& set, const PartialSet* input, const PlotOptions& options);

/// Throws Failure for a picture's name whose ending is neither .svg, .png nor .html (in any
/// case): the ending chooses what is drawn, and a name without one is drawn as SVG.
void check_picture_name(const std::string& name);

/// The times and frequencies a picture spans: every time and frequency of the set and of its
/// input, with a margin, or the range and band asked for.
struct PictureSpan {
  double t0, t1, f0, f1;
};
PictureSpan picture_span(const ResampledSet& set, const PartialSet* input, const PlotOptions& options);

/// The level of an amplitude as one of kPictureShades shades (1, faintest, to kPictureShades).
constexpr int kPictureShades = 10;
int picture_shade(double amp);

/// The noise drawn beneath the partials: one band's frames of one shade in a row, from half-way
/// to the frame before them to half-way to the frame after.
struct NoiseArea {
  std::size_t band;
  double from, to;  // seconds
  int shade;        // 1 to kPictureShades, from the band's power as the amplitude of a sine as strong
};
std::vector<NoiseArea> noise_areas(const Noise& noise);


}  // namespace zarn

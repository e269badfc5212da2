#include "render/plot.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <limits>

#include "model/failure.hpp"

namespace zarn {

namespace {

// Levels from kQuietDb (faintest) to 0 dB (solid) set a line's opacity.
constexpr double kQuietDb = -90;

double opacity(double amp) {
  return std::clamp((amp2db(amp) - kQuietDb) / -kQuietDb, 0.05, 1.0);
}

}  // namespace

void check_picture_name(const std::string& name) {
  const std::size_t slash = name.find_last_of('/'), dot = name.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot == slash + 1) return;  // no ending
  std::string ending = name.substr(dot);
  for (char& c : ending) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (ending != ".svg" && ending != ".png" && ending != ".html")
    throw failure(name, "the name must end in .svg, .png or .html, which choose the picture's kind (or have no ending, for SVG)");
}

PictureSpan picture_span(const ResampledSet& set, const PartialSet* input, const PlotOptions& o) {
  const bool log = o.log_frequency;
  double t_lo = std::numeric_limits<double>::infinity(), t_hi = -t_lo, f_lo = t_lo, f_hi = -t_lo;
  const auto take = [&](const std::vector<double>& t, const std::vector<double>& f) {
    for (std::size_t i = 0; i < t.size(); ++i) {
      t_lo = std::min(t_lo, t[i]);
      t_hi = std::max(t_hi, t[i]);
      if (std::isfinite(f[i]) && (!log || f[i] > 0)) {
        f_lo = std::min(f_lo, f[i]);
        f_hi = std::max(f_hi, f[i]);
      }
    }
  };
  if (input != nullptr)
    for (const Partial& part : input->partials) take(part.time, part.freq);
  for (const Resampled& part : set.partials) take(part.time, part.freq);
  if (!(t_hi >= t_lo)) t_lo = 0, t_hi = 1;
  if (!(f_hi >= f_lo)) f_lo = 100, f_hi = 1000;
  if (t_hi - t_lo < 1e-9) t_lo -= 0.5, t_hi += 0.5;
  if (log) {
    f_lo /= 1.1, f_hi *= 1.1;
  } else {
    const double pad = f_hi - f_lo < 1e-9 ? 50 : 0.05 * (f_hi - f_lo);
    f_lo -= pad, f_hi += pad;
  }
  // A range or band asked for is drawn as asked (zoom).
  if (o.range) t_lo = o.range->first, t_hi = o.range->second;
  if (o.band) f_lo = o.band->first, f_hi = o.band->second;
  return {t_lo, t_hi, f_lo, f_hi};
}

int picture_shade(double amp) {
  return std::clamp(static_cast<int>(std::lround(opacity(amp) * kPictureShades)), 1, kPictureShades);
}

std::vector<NoiseArea> noise_areas(const Noise& noise) {
  std::vector<NoiseArea> areas;
  const std::size_t n = noise.times.size();
  const auto shade_at = [&](std::size_t j, std::size_t b) {
    const double power = noise.frame(j)[b];
    return power > 0 ? picture_shade(std::sqrt(2 * power)) : 0;
  };
  for (std::size_t b = 0; b < noise.bands(); ++b) {
    std::size_t j = 0;
    while (j < n) {
      const int q = shade_at(j, b);
      std::size_t k = j + 1;
      while (k < n && shade_at(k, b) == q) ++k;
      const double from = j > 0 ? 0.5 * (noise.times[j - 1] + noise.times[j]) : noise.times[0] - 0.5 * (n > 1 ? noise.times[1] - noise.times[0] : 0.0);
      const double to = k < n ? 0.5 * (noise.times[k - 1] + noise.times[k]) : noise.times[n - 1] + 0.5 * (n > 1 ? noise.times[n - 1] - noise.times[n - 2] : 0.0);
      if (q > 0) areas.push_back({b, from, to, q});
      j = k;
    }
  }
  return areas;
}


namespace {

// The plotting area within the picture of 1200 by 720 pixels.
constexpr double kLeft = 80, kRight = 1180, kTop = 50, kBottom = 650;

std::string number(double v, int decimals) {
  char text[kMaxFixedChars];
  return std::string(text, static_cast<std::size_t>(format_fixed(text, v, decimals) - text));
}

// A tick label with as many decimals as the ticks' spacing needs.
std::string label(double v, const std::vector<double>& ticks) {
  double spacing = std::numeric_limits<double>::infinity();
  for (std::size_t i = 1; i < ticks.size(); ++i) spacing = std::min(spacing, ticks[i] - ticks[i - 1]);
  const int decimals = std::isfinite(spacing) ? std::max(0, static_cast<int>(-std::floor(std::log10(spacing) + 1e-9))) : 0;
  return number(v, decimals);
}

struct Range {
  double lo, hi;
};

// Time and frequency to pixels.
class Axes {
 public:
  Axes(Range t, Range f, bool log) : time(t), freq(f), t_lo_(t.lo), t_hi_(t.hi), log_(log) {
    f_lo_ = log ? std::log10(freq.lo) : freq.lo;
    f_hi_ = log ? std::log10(freq.hi) : freq.hi;
    floor_ = freq.lo;
  }
  const Range time, freq;  // in seconds and hertz

  double x(double t) const { return kLeft + (t - t_lo_) / (t_hi_ - t_lo_) * (kRight - kLeft); }
  double y(double f) const {
    const double v = log_ ? std::log10(std::max(f, floor_ / 10)) : f;
    return kBottom - (v - f_lo_) / (f_hi_ - f_lo_) * (kBottom - kTop);
  }

 private:
  double t_lo_, t_hi_, f_lo_, f_hi_, floor_;
  bool log_;
};

Axes axes_for(const ResampledSet& set, const PartialSet* input, const PlotOptions& o) {
  const PictureSpan span = picture_span(set, input, o);
  return Axes({span.t0, span.t1}, {span.f0, span.f1}, o.log_frequency);
}

void put_axes(Output& out, const Axes& axes, bool log) {
  const Range t = axes.time, f = axes.freq;
  out.put("<g stroke=\"#444\" fill=\"none\"><rect x=\"80\" y=\"50\" width=\"1100\" height=\"600\"/></g>\n");
  out.put("<g fill=\"#222\" stroke=\"none\">\n");
  const std::vector<double> t_ticks = detail::linear_ticks(t.lo, t.hi, 10);
  for (double v : t_ticks) {
    const std::string x = number(axes.x(v), 1);
    out.put("<path d=\"M" + x + " 650v6\" stroke=\"#444\"/><text x=\"" + x + "\" y=\"670\" text-anchor=\"middle\">" +
            label(v, t_ticks) + "</text>\n");
  }
  const std::vector<double> f_ticks = log ? detail::log_ticks(f.lo, f.hi) : detail::linear_ticks(f.lo, f.hi, 8);
  for (double v : f_ticks) {
    const std::string y = number(axes.y(v), 1);
    out.put("<path d=\"M74 " + y + "h6\" stroke=\"#444\"/><text x=\"70\" y=\"" + y + "\" dy=\"4\" text-anchor=\"end\">" +
            label(v, f_ticks) + "</text>\n");
  }
  out.put("<text x=\"630\" y=\"700\" text-anchor=\"middle\">time (s)</text>\n");
  out.put("<text transform=\"translate(20 350) rotate(-90)\" text-anchor=\"middle\">frequency (Hz)</text>\n");
  out.put("</g>\n");
}

// Lines and dots are drawn in a few shades: the level of each segment (the louder of its two
// ends) and of each dot, in kShades steps of opacity, each shade one path for the whole
// picture. A dense analysis stays light and quick to render this way, where a gradient for
// every partial would weigh more than the lines themselves.
constexpr int kShades = kPictureShades;

int shade(double amp) { return picture_shade(amp); }

// Path data in tenths of a pixel, each point relative to the last: the picture's pixels, not
// the data's digits, set its size.
class PathData {
 public:
  void move(double x, double y) { put('m', x, y); }
  void line(double x, double y) { put('l', x, y); }
  void text(const char* t) {
    d_ += t;
    last_ = ' ';
  }
  bool empty() const { return d_.empty(); }
  const std::string& data() const { return d_; }

 private:
  void put(char command, double x, double y) {
    const long long tx = std::llround(x * 10), ty = std::llround(y * 10);
    if (command != last_) d_ += command;
    else if (tx - x_ >= 0) d_ += ' ';  // a minus sign separates the numbers by itself
    tenths(tx - x_);
    if (ty - y_ >= 0) d_ += ' ';
    tenths(ty - y_);
    x_ = tx, y_ = ty, last_ = command;
  }
  void tenths(long long v) {
    char text[32];
    const long long whole = (v < 0 ? -v : v) / 10, tenth = (v < 0 ? -v : v) % 10;
    int n = 0;
    if (tenth == 0) n = std::snprintf(text, sizeof text, "%s%lld", v < 0 ? "-" : "", whole);
    else if (whole == 0) n = std::snprintf(text, sizeof text, "%s.%lld", v < 0 ? "-" : "", tenth);
    else n = std::snprintf(text, sizeof text, "%s%lld.%lld", v < 0 ? "-" : "", whole, tenth);
    d_.append(text, static_cast<std::size_t>(n));
  }
  std::string d_;
  long long x_ = 0, y_ = 0;  // the current point, in tenths: a path's first "m" is absolute
  char last_ = ' ';
};

// What a picture draws, in path data by shade.
struct Shades {
  PathData lines[kShades + 1], dots[kShades + 1];
};

// True when a time lies within the time range drawn, or a frequency within the band.
bool within(double v, const Range& r) { return v >= r.lo && v <= r.hi; }

// The polyline of one run of a partial's segments in one shade, with the points that lie
// within kTolerance pixels of the line drawn left out: each point drawn starts a wedge of the
// directions from it that pass that close to every point skipped since, and the line turns
// only where the next point falls outside the wedge. A line's points thus follow its pixels.
constexpr double kTolerance = 0.25;

class Simplifier {
 public:
  explicit Simplifier(PathData& d, double tolerance = kTolerance) : d_(d), tolerance_(tolerance) {}
  void start(double x, double y) {
    d_.move(x, y);
    ax_ = x, ay_ = y;
    reset();
  }
  void add(double x, double y) {
    if (!accepts(x, y)) {
      d_.line(px_, py_);
      ax_ = px_, ay_ = py_;
      reset();
      accepts(x, y);  // the point next to the new start always lies within its wedge
    }
    px_ = x, py_ = y, pending_ = true;
  }
  void finish() {
    if (pending_) d_.line(px_, py_);
    pending_ = false;
  }

 private:
  void reset() {
    lo_ = -kInf, hi_ = kInf;
    pending_ = false;
  }
  // True when the line from the anchor to (x, y) passes within the tolerance of every point
  // skipped; then narrows the wedge by this point's own.
  bool accepts(double x, double y) {
    const double dx = x - ax_, dy = y - ay_, r = std::hypot(dx, dy);
    if (r <= tolerance_) return true;
    const double angle = std::atan2(dy, dx), half = std::asin(tolerance_ / r);
    if (angle < lo_ || angle > hi_) return false;
    lo_ = std::max(lo_, angle - half), hi_ = std::min(hi_, angle + half);
    return true;
  }
  static constexpr double kInf = std::numeric_limits<double>::infinity();
  PathData& d_;
  double tolerance_;
  double ax_ = 0, ay_ = 0, px_ = 0, py_ = 0, lo_ = -kInf, hi_ = kInf;
  bool pending_ = false;
};

// One partial's line, by runs of segments in the shades of their levels; segments quieter
// than the floor at both ends, and those wholly outside the area drawn, are left out.
void add_partial(Shades& shades, const Resampled& part, const Axes& axes, const PlotOptions& o) {
  const std::size_t N = part.time.size();
  if (N == 1) {
    const double x = axes.x(part.time[0]), y = axes.y(part.freq[0]);
    if (std::isfinite(y) && amp2db(part.amp[0]) >= o.floor_db && within(part.time[0], axes.time)) {
      PathData& d = shades.lines[shade(part.amp[0])];
      d.move(x, y);
      d.text("h.1");
    }
    return;
  }
  int open = -1;  // the shade of the run being drawn
  std::optional<Simplifier> current;
  for (std::size_t j = 1; j < N; ++j) {
    const double x0 = axes.x(part.time[j - 1]), y0 = axes.y(part.freq[j - 1]);
    const double x1 = axes.x(part.time[j]), y1 = axes.y(part.freq[j]);
    const double louder = std::max(part.amp[j], part.amp[j - 1]);
    // A frequency that is not a number has no place; a segment above or below the area, or
    // before or after the range, is not seen.
    const bool shown = std::isfinite(y0) && std::isfinite(y1) && amp2db(louder) >= o.floor_db &&
                       !(part.time[j] < axes.time.lo || part.time[j - 1] > axes.time.hi) &&
                       !(std::max(y0, y1) < kTop || std::min(y0, y1) > kBottom);
    // A run keeps its shade while each segment's level lies within a shade of it, so that
    // levels that waver about the border of two shades do not break it up.
    const bool same = shown && open >= 0 && std::fabs(opacity(louder) * kShades - open) < 1.0;
    const int q = !shown ? -1 : same ? open : shade(louder);
    if (q != open && current) current->finish(), current.reset();
    if (q < 0) {
      open = -1;
      continue;
    }
    if (q != open) {
      current.emplace(shades.lines[q]);
      current->start(x0, y0);
      open = q;
    }
    current->add(x1, y1);
  }
  if (current) current->finish();
}

// The input's breakpoints as round dots, merged at the picture's pixels: each pixel that a
// dot falls on takes the shade of the loudest dot on it, and each row's pixels of one shade in
// a run are drawn as one stroke through their centres (a single pixel as a dot). What is drawn
// thus grows with the pixels the dots cover, never with the number of breakpoints, and every
// dot lies within half a pixel's diagonal of where it belongs. Dots outside the area are not
// drawn.
class DotPixels {
 public:
  DotPixels() : shade_(static_cast<std::size_t>(kWidth) * kHeight, 0) {}
  void add(const Partial& part, const Axes& axes, const PlotOptions& o) {
    for (std::size_t i = 0; i < part.time.size(); ++i) {
      const double x = axes.x(part.time[i]), y = axes.y(part.freq[i]);
      if (!(std::isfinite(y) && amp2db(part.amp[i]) >= o.floor_db && within(part.time[i], axes.time) && x >= kLeft - 2 &&
            x < kRight + 2 && y >= kTop - 2 && y < kBottom + 2))
        continue;
      unsigned char& at = shade_[static_cast<std::size_t>(y) * kWidth + static_cast<std::size_t>(x)];
      at = std::max(at, static_cast<unsigned char>(shade(part.amp[i])));
    }
  }
  // The runs of each row, into the paths of their shades.
  void draw(Shades& shades) const {
    for (std::size_t py = 0; py < kHeight; ++py) {
      const unsigned char* row = &shade_[py * kWidth];
      for (std::size_t px = 0; px < kWidth;) {
        const unsigned char q = row[px];
        std::size_t end = px + 1;
        // A run keeps its shade over pixels within one shade of it, as a line's run does, so
        // that levels wavering about the border of two shades do not break it into dots.
        if (q > 0)
          while (end < kWidth && row[end] > 0 && row[end] + 1 >= q && row[end] <= q + 1) ++end;
        else
          while (end < kWidth && row[end] == 0) ++end;
        if (q > 0) {  // from the first pixel's centre less half a dot to the last's plus half a dot
          PathData& d = shades.dots[q];
          const double y = static_cast<double>(py) + 0.5;
          d.move(static_cast<double>(px) + 0.5 - kDotWidth / 2, y);
          d.line(static_cast<double>(end - 1) + 0.5 + kDotWidth / 2, y);
        }
        px = end;
      }
    }
  }
  static constexpr std::size_t kWidth = 1200, kHeight = 720;
  static constexpr double kDotWidth = 2.5;  // the stroke's width: each dot a square this wide

 private:
  std::vector<unsigned char> shade_;  // by pixel, row by row: 0 where no dot fell
};

// The noise beside the partials, band by band, as areas shaded by their level. A band's
// frames of one shade in a row make one area, so that the picture grows with the changes of
// level, not with the frames.
void add_noise(std::string (&areas)[kShades + 1], const Noise& noise, const Axes& axes) {
  for (const NoiseArea& area : noise_areas(noise)) {
    const double top = axes.y(noise.edges[area.band + 1]), bottom = axes.y(noise.edges[area.band]);
    if (!(bottom > top)) continue;
    const double x0 = std::max(axes.x(area.from), kLeft - 1.0), x1 = std::min(axes.x(area.to), kRight + 1.0);
    if (x1 > x0)
      areas[area.shade] += "M" + number(x0, 1) + " " + number(top, 1) + "H" + number(x1, 1) + "V" + number(bottom, 1) + "H" + number(x0, 1) + "Z";
  }
}

// The paths of one kind, one per shade that holds anything.
void put_shades(Output& out, const PathData (&paths)[kShades + 1], const char* kind, double most) {
  for (int q = 1; q <= kShades; ++q) {
    if (paths[q].empty()) continue;
    out.put("<path class=\"" + std::string(kind) + "\" stroke-opacity=\"" + number(most * q / kShades, 2) + "\" d=\"");
    out.put(paths[q].data());
    out.put("\"/>\n");
  }
}

}  // namespace

void write_plot(Output& out, const ResampledSet& set, const PartialSet* input, const PlotOptions& options) {
  const Axes axes = axes_for(set, input, options);
  out.put("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
  out.put("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"1200\" height=\"720\" viewBox=\"0 0 1200 720\" "
          "font-family=\"sans-serif\" font-size=\"12\">\n");
  out.put("<rect width=\"1200\" height=\"720\" fill=\"white\"/>\n");
  char step[32];
  std::snprintf(step, sizeof step, "%g", options.step);
  out.put("<text x=\"630\" y=\"30\" text-anchor=\"middle\" font-size=\"15\">" + detail::xml_escape(options.input) +
          ", step " + step + (options.method.empty() ? "" : ", " + detail::xml_escape(options.method)) + ", " +
          std::to_string(set.P()) + " partials</text>\n");
  const bool noise = !set.noise.empty();
  out.put(std::string("<text x=\"1180\" y=\"700\" text-anchor=\"end\" fill=\"#666\">lines: resampled, opacity from -90 dB to 0 dB") +
          (options.dots ? "; dots: input breakpoints" : "") + "</text>\n");
  if (noise) out.put("<text x=\"80\" y=\"700\" fill=\"#666\">shaded: the noise, band by band</text>\n");
  out.put("<clipPath id=\"area\"><rect x=\"80\" y=\"50\" width=\"1100\" height=\"600\"/></clipPath>\n");
  out.put("<g clip-path=\"url(#area)\" fill=\"none\">\n");
  if (noise) {
    // Beneath everything, lighter than the lines.
    std::string areas[kShades + 1];
    add_noise(areas, set.noise, axes);
    out.put("<g fill=\"#e0861a\" stroke=\"none\">\n");
    for (int q = 1; q <= kShades; ++q)
      if (!areas[q].empty()) out.put("<path class=\"noise\" fill-opacity=\"" + number(0.4 * q / kShades, 2) + "\" d=\"" + areas[q] + "\"/>\n");
    out.put("</g>\n");
  }
  Shades shades;
  if (input != nullptr && options.dots) {
    DotPixels pixels;
    for (const Partial& part : input->partials) pixels.add(part, axes, options);
    pixels.draw(shades);
  }
  for (const Resampled& part : set.partials)
    if (part.N() > 0) add_partial(shades, part, axes, options);
  // The dots first, so that the lines stay visible where dots crowd.
  out.put("<g stroke=\"#d62728\" stroke-width=\"2.5\">\n");
  put_shades(out, shades.dots, "breakpoints", 0.7);
  out.put("</g>\n<g stroke=\"#1f4e9c\" stroke-width=\"1.5\" stroke-linejoin=\"round\" stroke-linecap=\"round\">\n");
  put_shades(out, shades.lines, "partial", 1.0);
  out.put("</g>\n</g>\n");
  put_axes(out, axes, options.log_frequency);
  out.put("</svg>\n");
}

}  // namespace zarn

#include "render/plot.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <limits>

#include "model/failure.hpp"

namespace zarn {

void check_picture_name(const std::string& name) {
  const std::size_t slash = name.find_last_of('/'), dot = name.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot == slash + 1) return;  // no ending
  std::string ending = name.substr(dot);
  for (char& c : ending) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (ending != ".svg" && ending != ".png")
    throw failure(name, "the name must end in .svg or .png, which choose the picture's kind (or have no ending, for SVG)");
}

namespace detail {

std::vector<double> linear_ticks(double lo, double hi, int target) {
  std::vector<double> ticks;
  if (!(hi > lo) || target < 1) return ticks;
  const double raw = (hi - lo) / target;
  const double unit = std::pow(10.0, std::floor(std::log10(raw)));
  double step = unit;
  for (double m : {2.0, 5.0, 10.0})
    if (raw > step) step = m * unit;
  // Ticks are counted in whole steps, with a tolerance relative to the range, so that their
  // number is bounded whatever the values: far from zero, where whole steps can no longer
  // be told apart in a double, there are none.
  const double first = std::ceil(lo / step), last = std::floor((hi + (hi - lo) * 1e-9) / step);
  constexpr double kExactWhole = 4503599627370496.0;  // 2^52
  if (!(last >= first) || !(std::fabs(first) < kExactWhole && std::fabs(last) < kExactWhole)) return ticks;
  const long long count = static_cast<long long>(last - first) + 1;
  if (count > 4LL * target + 4) return ticks;
  for (long long i = 0; i < count; ++i) {
    const double k = first + static_cast<double>(i);
    ticks.push_back(k * step == 0 ? 0.0 : k * step);
  }
  return ticks;
}

std::size_t utf8_length(std::string_view s) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char c = byte(0);
  std::size_t n = 0;
  unsigned min_second = 0x80, max_second = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) n = 2;
  else if (c >= 0xE0 && c <= 0xEF) n = 3, min_second = c == 0xE0 ? 0xA0 : 0x80, max_second = c == 0xED ? 0x9F : 0xBF;
  else if (c >= 0xF0 && c <= 0xF4) n = 4, min_second = c == 0xF0 ? 0x90 : 0x80, max_second = c == 0xF4 ? 0x8F : 0xBF;
  else return 0;
  if (s.size() < n || byte(1) < min_second || byte(1) > max_second) return 0;
  for (std::size_t i = 2; i < n; ++i)
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  return n;
}

std::vector<double> log_ticks(double lo, double hi) {
  std::vector<double> ticks;
  if (!(lo > 0) || !std::isfinite(hi)) return linear_ticks(lo, hi, 6);
  // Each decade is ten times the last, so the loop ends after at most ~630 of them; one that
  // does not grow (a denormal start) ends it too.
  for (double decade = std::pow(10.0, std::floor(std::log10(lo))); decade <= hi && decade > 0; decade *= 10)
    for (double m : {1.0, 2.0, 5.0})
      if (m * decade >= lo && m * decade <= hi) ticks.push_back(m * decade);
  if (ticks.size() < 3) return linear_ticks(lo, hi, 6);
  return ticks;
}

std::string xml_escape(std::string_view text) {
  // XML takes neither control bytes nor broken UTF-8: each such byte becomes U+FFFD.
  constexpr const char* kReplacement = "\xEF\xBF\xBD";
  std::string e;
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    switch (c) {
      case '&': e += "&amp;"; ++i; continue;
      case '<': e += "&lt;"; ++i; continue;
      case '>': e += "&gt;"; ++i; continue;
      case '"': e += "&quot;"; ++i; continue;
      default: break;
    }
    if (c >= 0x20 && c < 0x7f) {
      e += static_cast<char>(c);
      ++i;
      continue;
    }
    const std::size_t length = utf8_length(text.substr(i));
    if (length == 0) {
      e += kReplacement;
      ++i;
    } else {
      e.append(text.substr(i, length));
      i += length;
    }
  }
  return e;
}

}  // namespace detail

namespace {

// The plotting area within the picture of 1200 by 720 pixels.
constexpr double kLeft = 80, kRight = 1180, kTop = 50, kBottom = 650;
// Levels from kQuietDb (faintest) to 0 dB (solid) set a line's opacity.
constexpr double kQuietDb = -90;
// Resampled points nearer than this to the last one drawn are merged; dots likewise.
constexpr double kLineMerge = 0.7, kDotMerge = 2.0;

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

double opacity(double amp) {
  return std::clamp((amp2db(amp) - kQuietDb) / -kQuietDb, 0.05, 1.0);
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

// The ranges of all times and frequencies, input and resampled, with a margin.
Axes axes_for(const ResampledSet& set, const PartialSet* input, const PlotOptions& o) {
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
  return Axes({t_lo, t_hi}, {f_lo, f_hi}, log);
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
constexpr int kShades = 10;

int shade(double amp) { return std::clamp(static_cast<int>(std::lround(opacity(amp) * kShades)), 1, kShades); }

// What a picture draws, in path data by shade.
struct Shades {
  std::string lines[kShades + 1], dots[kShades + 1];
};

// True when a time lies within the time range drawn, or a frequency within the band.
bool within(double v, const Range& r) { return v >= r.lo && v <= r.hi; }

// One partial's line, by segments in the shades of their levels; segments quieter than the
// floor at both ends, and those wholly outside the range drawn, are left out. Points nearer
// than a fraction of a pixel to the last one drawn are merged.
void add_partial(Shades& shades, const Resampled& part, const Axes& axes, const PlotOptions& o) {
  const std::size_t N = part.time.size();
  double px = 0, py = 0, pa = 0, pt = 0;
  bool have = false;
  int open = -1;  // the shade whose path the last segment drew into, continued by "L"
  for (std::size_t j = 0; j < N; ++j) {
    const double x = axes.x(part.time[j]), y = axes.y(part.freq[j]);
    if (!std::isfinite(y)) {  // a frequency that is not a number has no place
      have = false;
      open = -1;
      continue;
    }
    if (have && j + 1 < N && std::fabs(x - px) < kLineMerge && std::fabs(y - py) < kLineMerge) continue;
    if (!have) {
      have = true;
      if (N == 1 && amp2db(part.amp[j]) >= o.floor_db && within(part.time[j], axes.time)) {
        std::string& d = shades.lines[shade(part.amp[j])];
        d += "M" + number(x, 1) + " " + number(y, 1) + "h0.1";
      }
    } else {
      const double louder = std::max(part.amp[j], pa);
      const bool shown = amp2db(louder) >= o.floor_db && !(part.time[j] < axes.time.lo || pt > axes.time.hi);
      if (!shown) {
        open = -1;
      } else {
        const int q = shade(louder);
        std::string& d = shades.lines[q];
        if (q != open) d += "M" + number(px, 1) + " " + number(py, 1);
        d += "L" + number(x, 1) + " " + number(y, 1);
        open = q;
      }
    }
    px = x, py = y, pa = part.amp[j], pt = part.time[j];
  }
}

// One partial's input breakpoints as round dots, in the shades of their levels.
void add_dots(Shades& shades, const Partial& part, const Axes& axes, const PlotOptions& o) {
  double px = 0, py = 0;
  bool have = false;
  for (std::size_t i = 0; i < part.time.size(); ++i) {
    const double x = axes.x(part.time[i]), y = axes.y(part.freq[i]);
    if (!std::isfinite(y) || amp2db(part.amp[i]) < o.floor_db || !within(part.time[i], axes.time)) continue;
    if (have && std::fabs(x - px) < kDotMerge && std::fabs(y - py) < kDotMerge) continue;
    shades.dots[shade(part.amp[i])] += "M" + number(x, 1) + " " + number(y, 1) + "h0";
    px = x, py = y;
    have = true;
  }
}

// The noise beside the partials, band by band, as areas shaded by their level: each band's
// power as the amplitude of a sine as strong. A band's frames of one shade in a row make one
// area, so that the picture grows with the changes of level, not with the frames.
void add_noise(std::string (&areas)[kShades + 1], const Noise& noise, const Axes& axes) {
  const std::size_t n = noise.times.size();
  for (std::size_t b = 0; b < noise.bands(); ++b) {
    const double top = axes.y(noise.edges[b + 1]), bottom = axes.y(noise.edges[b]);
    if (!(bottom > top)) continue;
    std::size_t j = 0;
    while (j < n) {
      const double power = noise.frame(j)[b];
      const int q = power > 0 ? shade(std::sqrt(2 * power)) : 0;
      std::size_t k = j + 1;
      while (k < n && (noise.frame(k)[b] > 0 ? shade(std::sqrt(2 * noise.frame(k)[b])) : 0) == q) ++k;
      // From half-way to the frame before the run to half-way after its last.
      const double from = j > 0 ? 0.5 * (noise.times[j - 1] + noise.times[j]) : noise.times[0] - 0.5 * (n > 1 ? noise.times[1] - noise.times[0] : 0.0);
      const double to = k < n ? 0.5 * (noise.times[k - 1] + noise.times[k]) : noise.times[n - 1] + 0.5 * (n > 1 ? noise.times[n - 1] - noise.times[n - 2] : 0.0);
      const double x0 = std::max(axes.x(from), kLeft - 1.0), x1 = std::min(axes.x(to), kRight + 1.0);
      if (q > 0 && x1 > x0)
        areas[q] += "M" + number(x0, 1) + " " + number(top, 1) + "H" + number(x1, 1) + "V" + number(bottom, 1) + "H" + number(x0, 1) + "Z";
      j = k;
    }
  }
}

// The paths of one kind, one per shade that holds anything.
void put_shades(Output& out, const std::string (&paths)[kShades + 1], const char* kind, double most) {
  for (int q = 1; q <= kShades; ++q) {
    if (paths[q].empty()) continue;
    out.put("<path class=\"" + std::string(kind) + "\" stroke-opacity=\"" + number(most * q / kShades, 2) + "\" d=\"");
    out.put(paths[q]);
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
  if (input != nullptr && options.dots)
    for (const Partial& part : input->partials)
      if (part.M() > 0) add_dots(shades, part, axes, options);
  for (const Resampled& part : set.partials)
    if (part.N() > 0) add_partial(shades, part, axes, options);
  // The dots first, so that the lines stay visible where dots crowd.
  out.put("<g stroke=\"#d62728\" stroke-width=\"2.5\" stroke-linecap=\"round\">\n");
  put_shades(out, shades.dots, "breakpoints", 0.7);
  out.put("</g>\n<g stroke=\"#1f4e9c\" stroke-width=\"1.5\" stroke-linejoin=\"round\" stroke-linecap=\"round\">\n");
  put_shades(out, shades.lines, "partial", 1.0);
  out.put("</g>\n</g>\n");
  put_axes(out, axes, options.log_frequency);
  out.put("</svg>\n");
}

}  // namespace zarn

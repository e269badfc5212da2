#include "plot.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace zarn {

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

std::vector<double> log_ticks(double lo, double hi) {
  std::vector<double> ticks;
  for (double decade = std::pow(10.0, std::floor(std::log10(lo))); decade <= hi; decade *= 10)
    for (double m : {1.0, 2.0, 5.0})
      if (m * decade >= lo && m * decade <= hi) ticks.push_back(m * decade);
  if (ticks.size() < 3) return linear_ticks(lo, hi, 6);
  return ticks;
}

std::string xml_escape(std::string_view text) {
  std::string e;
  for (char c : text) {
    switch (c) {
      case '&': e += "&amp;"; break;
      case '<': e += "&lt;"; break;
      case '>': e += "&gt;"; break;
      case '"': e += "&quot;"; break;
      default: e += c;
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
Axes axes_for(const ResampledSet& set, const PartialSet* input, bool log) {
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

// One partial: its line, stroked through a gradient of opacities that follows its level, and
// its input breakpoints as round dots.
void put_partial(Output& out, const Resampled& part, std::size_t p, const Axes& axes) {
  const std::size_t N = part.time.size();
  const double x_first = axes.x(part.time.front()), x_last = axes.x(part.time.back());
  std::string stroke;
  if (x_last - x_first >= 1) {
    const std::string id = "g" + std::to_string(p);
    out.put("<linearGradient id=\"" + id + "\" gradientUnits=\"userSpaceOnUse\" x1=\"" + number(x_first, 1) + "\" x2=\"" +
            number(x_last, 1) + "\">");
    double last = -1;
    for (std::size_t j = 0; j < N; ++j) {
      const double o = std::round(opacity(part.amp[j]) * 20) / 20;  // 5 % steps
      if (o == last && j + 1 < N) continue;
      out.put("<stop offset=\"" + number((axes.x(part.time[j]) - x_first) / (x_last - x_first), 4) + "\" stop-color=\"#1f4e9c\" stop-opacity=\"" +
              number(o, 2) + "\"/>");
      last = o;
    }
    out.put("</linearGradient>\n");
    stroke = "url(#" + id + ")";
  } else {
    stroke = "#1f4e9c\" stroke-opacity=\"" + number(opacity(*std::max_element(part.amp.begin(), part.amp.end())), 2);
  }
  out.put("<path class=\"partial\" stroke=\"" + stroke + "\" d=\"");
  double px = 0, py = 0;
  bool drawn = false;
  for (std::size_t j = 0; j < N; ++j) {
    const double x = axes.x(part.time[j]), y = axes.y(part.freq[j]);
    if (!std::isfinite(y)) continue;  // a frequency that is not a number has no place
    if (j > 0 && j + 1 < N && std::fabs(x - px) < kLineMerge && std::fabs(y - py) < kLineMerge) continue;
    out.put(drawn ? "L" : "M");
    drawn = true;
    out.put(number(x, 1));
    out.put(' ');
    out.put(number(y, 1));
    px = x, py = y;
  }
  if (N == 1 && drawn) out.put("h0.1");
  out.put("\"/>\n");
}

void put_dots(Output& out, const Partial& part, const Axes& axes) {
  out.put("<path class=\"breakpoints\" d=\"");
  double px = 0, py = 0;
  for (std::size_t i = 0; i < part.time.size(); ++i) {
    const double x = axes.x(part.time[i]), y = axes.y(part.freq[i]);
    if (!std::isfinite(y)) continue;
    if (i > 0 && std::fabs(x - px) < kDotMerge && std::fabs(y - py) < kDotMerge) continue;
    out.put("M" + number(x, 1) + " " + number(y, 1) + "h0");
    px = x, py = y;
  }
  out.put("\"/>\n");
}

}  // namespace

void write_plot(Output& out, const ResampledSet& set, const PartialSet* input, const PlotOptions& options) {
  const Axes axes = axes_for(set, input, options.log_frequency);
  out.put("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
  out.put("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"1200\" height=\"720\" viewBox=\"0 0 1200 720\" "
          "font-family=\"sans-serif\" font-size=\"12\">\n");
  out.put("<rect width=\"1200\" height=\"720\" fill=\"white\"/>\n");
  char step[32];
  std::snprintf(step, sizeof step, "%g", options.step);
  out.put("<text x=\"630\" y=\"30\" text-anchor=\"middle\" font-size=\"15\">" + detail::xml_escape(options.input) +
          ", step " + step + (options.method.empty() ? "" : ", " + detail::xml_escape(options.method)) + ", " +
          std::to_string(set.P()) + " partials</text>\n");
  out.put("<text x=\"1180\" y=\"700\" text-anchor=\"end\" fill=\"#666\">lines: resampled, opacity from -90 dB to 0 dB; "
          "dots: input breakpoints</text>\n");
  out.put("<clipPath id=\"area\"><rect x=\"80\" y=\"50\" width=\"1100\" height=\"600\"/></clipPath>\n");
  out.put("<g clip-path=\"url(#area)\" fill=\"none\">\n");
  // The dots first, so that the lines stay visible where dots crowd.
  out.put("<g stroke=\"#d62728\" stroke-width=\"2.5\" stroke-linecap=\"round\" stroke-opacity=\"0.7\">\n");
  if (input != nullptr)
    for (const Partial& part : input->partials)
      if (part.M() > 0) put_dots(out, part, axes);
  out.put("</g>\n<g stroke-width=\"1.5\" stroke-linejoin=\"round\" stroke-linecap=\"round\">\n");
  for (std::size_t p = 0; p < set.partials.size(); ++p)
    if (set.partials[p].N() > 0) put_partial(out, set.partials[p], p, axes);
  out.put("</g>\n</g>\n");
  put_axes(out, axes, options.log_frequency);
  out.put("</svg>\n");
}

}  // namespace zarn

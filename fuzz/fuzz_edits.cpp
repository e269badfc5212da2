// libFuzzer target: partials and noise as the readers let them through (times finite and
// rising, frequencies from 4 Hz, amplitudes finite and not negative, noise power finite and
// not negative), through the edits that weigh every partial (--harmonic, --morph, formants
// kept through a transposition, time scale and gain, changes over time from breakpoints typed as
// text: curves, markers, holds and attacks kept), then resampled and written as the
// browser page and as ATS with its noise. An edit must give partials the writers take, or a
// clean Failure; nothing may grow with the times the partials span rather than their bytes.
//
// The first byte: its low two bits the edit, the next whether there is noise, the rest the
// number of partials; the morph's other sound takes the same number. Each partial takes a byte
// for its count of points; each figure a byte that picks a value from a table of ordinary and
// extreme ones, or the eight bytes after it as any double.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "fuzz_bytes.hpp"

#include "edit/formants.hpp"
#include "edit/harmonic.hpp"
#include "edit/morph.hpp"
#include "edit/scale.hpp"
#include "edit/shape.hpp"
#include "fit/resample.hpp"
#include "formats/ats.hpp"
#include "formats/formats.hpp"
#include "model/failure.hpp"
#include "render/page.hpp"

namespace {

// The figures a byte picks from: harmonics of 110 Hz, steps of time, and extremes.
const double kValues[] = {0,    1,    0.5,   0.01,   110,   220, 330,      440,   441, 880, 1320,
                          3000, 22050, 1e-300, 1e300, 1e6, 4.9e-324, 123.0, 2.5, 1e-3, 0.1};

// Bytes taken as figures of the values above.
struct Bytes : zarn_fuzz::Bytes {
  Bytes(const std::uint8_t* p, std::size_t left) : zarn_fuzz::Bytes{p, left, kValues, sizeof kValues / sizeof kValues[0]} {}
};

// Partials as a reader gives them.
zarn::PartialSet partials_from(Bytes& in, int count) {
  zarn::PartialSet set;
  set.places = zarn::PartialSet::Places::kSeconds;
  for (int p = 0; p < count; ++p) {
    std::uint8_t points;
    if (!in.take(points)) break;
    zarn::Partial part;
    double time = 0;
    for (int j = 0; j < points % 24; ++j) {
      double step = 0, freq = 0, amp = 0;
      if (!in.figure(step) || !in.figure(freq) || !in.figure(amp)) break;
      time += std::isfinite(step) && step > 0 ? step : 0.01;
      if (!std::isfinite(time) || !std::isfinite(freq) || freq < 4 || !std::isfinite(amp) || amp < 0) break;
      zarn::add_breakpoint(part, time, freq, amp);
    }
    part.place = p + 1;
    set.partials.push_back(std::move(part));
  }
  return set;
}

// A few frames of noise in a few bands.
zarn::Noise noise_from(Bytes& in) {
  zarn::Noise noise;
  noise.edges = {0, 300, 2000, 20000};
  double time = 0;
  for (int k = 0; k < 6; ++k) {
    double step = 0;
    if (!in.figure(step)) break;
    time += std::isfinite(step) && step > 0 ? step : 0.01;
    if (!std::isfinite(time)) break;
    double power[3];
    bool ok = true;
    for (double& b : power) ok = ok && in.figure(b) && std::isfinite(b) && b >= 0;
    if (!ok) break;
    noise.times.push_back(time);
    noise.power.insert(noise.power.end(), power, power + 3);
  }
  return noise;
}

// What the writers may be given here without memory growing with the times spanned.
constexpr double kMostPoints = 1 << 14, kMostBytes = 1 << 20;

// A curve from the text of the next bytes (a byte for its length), parsed as the options parse it.
zarn::Curve curve_from(Bytes& in, zarn::ValueRule rule) {
  std::uint8_t length = 0;
  std::string text;
  in.take(length);
  for (std::uint8_t c = 0; text.size() < length % 48 && in.take(c);) text += static_cast<char>(c);
  std::string problem;
  zarn::Curve curve = zarn::parse_curve(text, (length & 0x80) != 0, rule, problem);
  if (!problem.empty() || curve.times.size() > 8) return {};
  return curve;
}

// Changes over time: a transposition, a gain, a stretch or markers, a hold, attacks kept, where
// the times they make stay within what the writers may be given here.
void shape_from(Bytes& in, zarn::PartialSet& set) {
  zarn::ShapeOptions o;
  o.step = 0.01;
  o.fit = zarn::Fit::kMonotone;
  o.cents = curve_from(in, zarn::any_value);
  o.gain = curve_from(in, zarn::any_value);
  o.noise_gain = curve_from(in, zarn::any_value);
  o.warp = curve_from(in, zarn::rising_value);
  if (o.warp.times.size() < 2) o.warp = {};
  if (o.warp.empty()) o.time_factor = curve_from(in, zarn::above_zero);
  double hold = 0, seconds = 0;
  if (in.figure(hold) && in.figure(seconds) && std::isfinite(hold) && hold >= 0 && std::isfinite(seconds) && seconds > 0)
    o.freezes.emplace_back(hold, seconds);
  std::uint8_t flags = 0;
  o.keep_attacks = in.take(flags) && (flags & 1) != 0;
  double end = 0;
  for (const zarn::Partial& part : set.partials)
    if (part.M() > 0) end = std::max(end, part.time.back());
  if (!set.noise.empty()) end = std::max(end, set.noise.times.back());
  if (!(end < 100)) return;
  const zarn::TimeMap map = zarn::time_map(o, set);
  const double last = map.forward(end), first = map.forward(0);
  if (!(std::fabs(last) < 100 && std::fabs(first) < 100)) return;
  zarn::shape(set, o, "fuzz");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const int edit = data[0] & 3, count = data[0] >> 3;
  Bytes in{data + 1, size - 1};
  zarn::PartialSet set = partials_from(in, count);
  if ((data[0] & 4) != 0) set.noise = noise_from(in);
  try {
    if (edit == 0) {
      zarn::make_harmonic(set);
    } else if (edit == 1) {
      zarn::PartialSet other = partials_from(in, count);
      if ((data[0] & 4) != 0) other.noise = noise_from(in);
      double t = 0, w = 0;
      zarn::MorphWeight weight;
      while (weight.points.size() < 3 && in.figure(t) && in.figure(w) && std::isfinite(t) && w >= 0 && w <= 1 &&
             (weight.points.empty() || t > weight.points.back().first))
        weight.points.emplace_back(t, w);
      if (weight.points.empty()) weight.points.emplace_back(0.0, 0.3);
      zarn::morph(set, other, weight);
    } else {
      double cents = 0, time = 1, gain = 0;
      in.figure(cents), in.figure(time), in.figure(gain);
      cents = std::isfinite(cents) ? std::fmod(cents, 4800.0) - 2400 : 0;
      if (edit == 2 && cents != 0) zarn::keep_formants(set, std::pow(2.0, cents / 1200.0));
      zarn::ScaleOptions scale;
      scale.cents = cents;
      scale.time = zarn::time_scale_problem(time).empty() ? time : 1.0;
      scale.gain = std::isfinite(gain) ? std::fmod(gain, 120.0) : 0;
      zarn::scale(set, scale, "fuzz");
      if (edit == 3) shape_from(in, set);
    }
    const zarn::GridPlan plan = zarn::plan_grid(set, 0.01, zarn::GridKind::kAligned, "fuzz", zarn::Fit::kMonotone);
    double points = 0;
    for (int n : plan.points) points += n;
    if (points > kMostPoints) return 0;
    zarn::ResampledSet grid = zarn::lay_planned(set, plan);
    zarn::resample(set, grid, zarn::Fit::kMonotone);
    std::string sink;
    zarn::Output out(&sink);
    zarn::PageOptions page;
    page.plot.step = 0.01;
    page.judged = zarn::judged_by_filters(set);
    zarn::write_page(out, grid, set, page);
    zarn::check_result(grid, zarn::Format::kAts);
    if (zarn::ats_bytes(grid) <= kMostBytes) zarn::result_writer(grid, zarn::Format::kAts, {"fuzz", 44100})(out);
    out.flush();
  } catch (const zarn::Failure&) {
    // refused with a message
  }
  return 0;
}

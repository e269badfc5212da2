#include "fit/fit.hpp"

#include "fit/linear.hpp"
#include "fit/monotone.hpp"
#include "fit/spline.hpp"
#include "model/phase.hpp"

namespace zarn {

namespace {

void spline_tracks(const Breakpoints& part, Resampled& out) {
  ispline2_gen(part.time, part.freq, part.amp, part.M, out.time.data(), out.freq.data(), out.amp.data(), out.N());
}

// A fit of one track at a time, as the monotone cubic and the lines are made.
template <void (*kOne)(const double*, const double*, int, const double*, double*, int)>
void each_track(const Breakpoints& part, Resampled& out) {
  kOne(part.time, part.freq, part.M, out.time.data(), out.freq.data(), out.N());
  kOne(part.time, part.amp, part.M, out.time.data(), out.amp.data(), out.N());
}

const std::vector<FitRow> kFits = {
    {Fit::kSpline, "spline", "the default for partial files: smooth, exact continuity", spline_tracks},
    {Fit::kMonotone, "monotone", "never beyond its breakpoints' values: the default for sound files analysed, whose partials have gaps and jumps", each_track<imonotone>},
    {Fit::kLinear, "linear", "straight lines", each_track<ilinear>},
};

}  // namespace

const std::vector<FitRow>& fit_table() { return kFits; }

Fit fit_for(std::optional<Fit> asked, const PartialSet& input) {
  if (asked) return *asked;
  return input.places == PartialSet::Places::kSeconds ? Fit::kMonotone : Fit::kSpline;
}

std::optional<Fit> fit_named(std::string_view name) {
  for (const FitRow& row : kFits)
    if (row.name == name) return row.fit;
  return std::nullopt;
}

std::string fit_names() {
  std::string names;
  for (std::size_t i = 0; i < kFits.size(); ++i) {
    if (i > 0) names += i + 1 == kFits.size() ? " or " : ", ";
    names += kFits[i].name;
  }
  return names;
}

void fit_partial(Fit fit, const Breakpoints& part, Resampled& out) {
  out.freq.resize(out.time.size());
  out.amp.resize(out.time.size());
  kFits[static_cast<std::size_t>(fit)].tracks(part, out);
  if (part.phase != nullptr)
    phase_on_grid(part, out);
  else
    out.phase.clear();
}

void phase_on_grid(const Breakpoints& part, Resampled& out) {
  out.phase.resize(out.time.size());
  // The grid's times rise, as the breakpoints' do: one walk finds each time's segment. A time
  // before the first breakpoint or after the last (none, as grids are laid) takes the nearest
  // segment's cubic.
  int j = 0;
  for (std::size_t i = 0; i < out.time.size(); ++i) {
    const double t = out.time[i];
    if (part.M < 2) {
      out.phase[i] = part.M == 1 ? part.phase[0] : 0.0;
      continue;
    }
    while (j + 2 < part.M && t >= part.time[j + 1]) ++j;
    const double h = part.time[j + 1] - part.time[j];
    const CubicPhase cubic(part.phase[j], part.freq[j], part.phase[j + 1], part.freq[j + 1], h);
    out.phase[i] = wrap_phase(cubic.at(t - part.time[j]));
  }
}

}  // namespace zarn

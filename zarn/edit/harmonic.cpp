#include "edit/harmonic.hpp"

#include <algorithm>
#include <cmath>
#include <map>
#include <utility>
#include <vector>

#include "edit/fundamental.hpp"

namespace zarn {

namespace {

// The farthest a harmonic's breakpoint lies from its number times the fundamental, in octaves
// (50 cents).
constexpr double kOffHarmonic = 50.0 / 1200;

double energy(const Partial& p) {
  double e = 0;
  for (double a : p.amp) e += a * a;
  return e;
}

// The runs of a partial's breakpoints that lie on harmonic n of the fundamental, each a
// partial of its own: where the partial strays from the harmonic (or the fundamental is
// lost), it is cut, so that no breakpoint of a harmonic lies off it.
void runs_on_harmonic(const Partial& part, int n, const Fundamental& f0, bool labelled, std::vector<Partial>& out) {
  Partial run;
  const auto close = [&] {
    if (run.time.size() >= 2) out.push_back(std::move(run));
    run = Partial();
  };
  for (std::size_t j = 0; j < part.time.size(); ++j) {
    const double c = fundamental_near(f0, part.time[j]);
    if (!labelled && (harmonic_of(part.freq[j], c) != n || std::fabs(std::log2(part.freq[j] / (n * c))) > kOffHarmonic)) {
      close();
      continue;
    }
    if (run.time.empty()) run.place = part.place, run.origin = part.origin;
    add_breakpoint(run, part.time[j], part.freq[j], part.amp[j]);
    if (has_phase(part)) run.phase.push_back(part.phase[j]);  // labelling moves nothing: phases kept
  }
  close();
}

}  // namespace

void make_harmonic(PartialSet& set) {
  const Fundamental f0 = fundamental_of_breakpoints(set);
  const std::vector<int> numbers = harmonic_numbers(set, f0);
  // The runs of each harmonic number, by their first time. A partial that came labelled (a
  // 1HRM track) keeps its breakpoints as they are.
  std::map<int, std::vector<Partial>> by_number;
  for (std::size_t p = 0; p < set.partials.size(); ++p)
    if (numbers[p] > 0 && !set.partials[p].time.empty())
      runs_on_harmonic(set.partials[p], numbers[p], f0, set.partials[p].origin.harmonic, by_number[numbers[p]]);
  std::vector<Partial> out;
  for (auto& [n, members] : by_number) {
    std::stable_sort(members.begin(), members.end(), [](const Partial& a, const Partial& b) { return a.time.front() < b.time.front(); });
    Partial joined;
    bool open = false;
    for (Partial& part : members) {
      if (open && part.time.front() <= joined.time.back()) {
        // Two of one number at once: the stronger stays.
        if (energy(part) > energy(joined)) joined = std::move(part);
      } else if (open && part.time.front() - joined.time.back() <= kHarmonicGap) {
        joined.time.insert(joined.time.end(), part.time.begin(), part.time.end());
        joined.freq.insert(joined.freq.end(), part.freq.begin(), part.freq.end());
        joined.amp.insert(joined.amp.end(), part.amp.begin(), part.amp.end());
        // Joined across a gap, each run keeps its phases where both have them.
        if (!joined.phase.empty() && has_phase(part))
          joined.phase.insert(joined.phase.end(), part.phase.begin(), part.phase.end());
        else
          joined.phase.clear();
      } else {
        if (open) out.push_back(std::move(joined));
        joined = std::move(part);
        open = true;
      }
      // Whichever partial holds the number now, it is that harmonic.
      joined.origin.harmonic = true;
      joined.origin.index = n;
    }
    if (open) out.push_back(std::move(joined));
  }
  // In the order of their first times, as an analysis gives them.
  std::stable_sort(out.begin(), out.end(), [](const Partial& a, const Partial& b) { return a.time.front() < b.time.front(); });
  set.partials = std::move(out);
}

}  // namespace zarn

#include "edit/harmonic.hpp"

#include <algorithm>
#include <map>
#include <utility>
#include <vector>

#include "edit/fundamental.hpp"

namespace zarn {

namespace {

double energy(const Partial& p) {
  double e = 0;
  for (double a : p.amp) e += a * a;
  return e;
}

}  // namespace

void make_harmonic(PartialSet& set) {
  const std::vector<int> numbers = harmonic_numbers(set);
  // The partials of each harmonic number, by their first time.
  std::map<int, std::vector<std::size_t>> by_number;
  for (std::size_t p = 0; p < set.partials.size(); ++p)
    if (numbers[p] > 0 && !set.partials[p].time.empty()) by_number[numbers[p]].push_back(p);
  std::vector<Partial> out;
  for (auto& [n, members] : by_number) {
    std::stable_sort(members.begin(), members.end(), [&](std::size_t a, std::size_t b) { return set.partials[a].time.front() < set.partials[b].time.front(); });
    Partial joined;
    bool open = false;
    for (std::size_t p : members) {
      Partial& part = set.partials[p];
      if (open && part.time.front() <= joined.time.back()) {
        // Two of one number at once: the stronger stays.
        if (energy(part) > energy(joined)) joined = std::move(part);
        continue;
      }
      if (open && part.time.front() - joined.time.back() <= kHarmonicGap) {
        joined.time.insert(joined.time.end(), part.time.begin(), part.time.end());
        joined.freq.insert(joined.freq.end(), part.freq.begin(), part.freq.end());
        joined.amp.insert(joined.amp.end(), part.amp.begin(), part.amp.end());
        continue;
      }
      if (open) out.push_back(std::move(joined));
      joined = std::move(part);
      joined.origin.harmonic = true;
      joined.origin.index = n;
      open = true;
    }
    if (open) out.push_back(std::move(joined));
  }
  // In the order of their first times, as an analysis gives them.
  std::stable_sort(out.begin(), out.end(), [](const Partial& a, const Partial& b) { return a.time.front() < b.time.front(); });
  set.partials = std::move(out);
}

}  // namespace zarn

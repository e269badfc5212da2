#include "render/voices.hpp"

#include <algorithm>

namespace zarn {

double SetVoices::last_time() const {
  double last = -std::numeric_limits<double>::infinity();
  for (const Resampled& part : set_.partials)
    if (part.N() > 0) last = std::max(last, part.time.back());
  return last;
}

void SpooledVoices::add(const Resampled& part) {
  const std::size_t n = part.time.size();
  Entry entry{0, part.N(), n > 0 ? part.time.front() : 0.0};
  if (n > 0) {
    entry.at = spool_.append(part.time.data(), n);
    spool_.append(part.freq.data(), n);
    spool_.append(part.amp.data(), n);
    last_ = std::max(last_, part.time.back());
  }
  if (n > 1 && std::any_of(part.freq.begin(), part.freq.end(), [&](double f) { return f >= 0.5 * rate_; })) ++at_half_rate_;
  entries_.push_back(entry);
}

const Resampled& SpooledVoices::fetch(std::size_t p) {
  const Entry& entry = entries_[p];
  Resampled& part = fetched_[p];
  const auto n = static_cast<std::size_t>(entry.points);
  part.time.resize(n), part.freq.resize(n), part.amp.resize(n);
  spool_.read(entry.at, part.time.data(), n);
  spool_.read(entry.at + n, part.freq.data(), n);
  spool_.read(entry.at + 2 * n, part.amp.data(), n);
  return part;
}

}  // namespace zarn

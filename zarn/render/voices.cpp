#include "render/voices.hpp"

#include <algorithm>

namespace zarn {

bool reaches_half_rate(const Resampled& part, int rate) {
  return part.N() > 1 && std::any_of(part.freq.begin(), part.freq.end(), [&](double f) { return f >= 0.5 * rate; });
}

double SetVoices::last_time() const {
  double last = -std::numeric_limits<double>::infinity();
  for (const Resampled& part : set_.partials)
    if (part.N() > 0) last = std::max(last, part.time.back());
  return last;
}

void SpooledVoices::add(const Resampled& part) {
  const std::size_t n = part.time.size();
  const bool phased = n > 0 && part.phase.size() == n;
  Entry entry{written_ + pending_.size(), part.N(), n > 0 ? part.time.front() : 0.0, phased};
  if (n > 0) {
    if (pending_.size() + (phased ? 4 : 3) * n > kBlock) flush();
    pending_.insert(pending_.end(), part.time.begin(), part.time.end());
    pending_.insert(pending_.end(), part.freq.begin(), part.freq.end());
    pending_.insert(pending_.end(), part.amp.begin(), part.amp.end());
    if (phased) pending_.insert(pending_.end(), part.phase.begin(), part.phase.end());
    last_ = std::max(last_, part.time.back());
  }
  if (reaches_half_rate(part, rate_)) ++at_half_rate_;
  entries_.push_back(entry);
}

void SpooledVoices::flush() {
  if (pending_.empty()) return;
  spool_.append(pending_.data(), pending_.size());
  written_ += pending_.size();
  pending_.clear();
}

const Resampled& SpooledVoices::fetch(std::size_t p) {
  flush();  // every partial is added before the first is fetched
  const Entry& entry = entries_[p];
  Resampled& part = fetched_[p];
  const auto n = static_cast<std::size_t>(entry.points);
  const std::size_t columns = entry.phased ? 4 : 3;
  read_.resize(columns * n);
  if (n > 0) spool_.read(entry.at, read_.data(), columns * n);
  const auto column = [&](std::size_t c) { return read_.begin() + static_cast<std::ptrdiff_t>(c * n); };
  part.time.assign(column(0), column(1));
  part.freq.assign(column(1), column(2));
  part.amp.assign(column(2), column(3));
  if (entry.phased)
    part.phase.assign(column(3), column(4));
  else
    part.phase.clear();
  return part;
}

}  // namespace zarn

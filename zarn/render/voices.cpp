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
  Entry entry{written_ + pending_.size(), part.N(), n > 0 ? part.time.front() : 0.0};
  if (n > 0) {
    if (pending_.size() + 3 * n > kBlock) flush();
    pending_.insert(pending_.end(), part.time.begin(), part.time.end());
    pending_.insert(pending_.end(), part.freq.begin(), part.freq.end());
    pending_.insert(pending_.end(), part.amp.begin(), part.amp.end());
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
  read_.resize(3 * n);
  if (n > 0) spool_.read(entry.at, read_.data(), 3 * n);
  part.time.assign(read_.begin(), read_.begin() + static_cast<std::ptrdiff_t>(n));
  part.freq.assign(read_.begin() + static_cast<std::ptrdiff_t>(n), read_.begin() + static_cast<std::ptrdiff_t>(2 * n));
  part.amp.assign(read_.begin() + static_cast<std::ptrdiff_t>(2 * n), read_.end());
  return part;
}

}  // namespace zarn

#include "formats/in_order.hpp"

namespace zarn {

void hand_each(PartialSet& set, PartialSink& sink) {
  std::vector<Partial> partials = std::move(set.partials);
  set.partials.clear();
  sink.start(set, static_cast<int>(partials.size()));
  for (std::size_t p = 0; p < partials.size(); ++p) {
    sink.take(partials[p], static_cast<int>(p));
    partials[p] = Partial{};  // its memory goes back before the next is taken
  }
}

Partial& InOrder::begin(std::size_t id) {
  int slot = 0;
  if (free_.empty()) {
    slot = static_cast<int>(slots_.size());
    slots_.emplace_back();
  } else {
    slot = free_.back();
    free_.pop_back();
  }
  slot_of_[id] = slot;
  under_way_ += counts_[id];
  if (under_way_ > most_under_way_) {
    most_under_way_ = under_way_;
    memory_.check(static_cast<double>(most_under_way_ + waiting_points_) * 3 * sizeof(double), "the partials under way");
  }
  Partial& part = slots_[static_cast<std::size_t>(slot)];
  part.time.reserve(counts_[id]);
  part.freq.reserve(counts_[id]);
  part.amp.reserve(counts_[id]);
  return part;
}

void InOrder::ended(std::size_t id) {
  const int slot = slot_of_[id];
  slot_of_[id] = -1;
  under_way_ -= counts_[id];
  Partial& part = slots_[static_cast<std::size_t>(slot)];
  if (id == handed_) {
    hand(part);
    while (!waiting_.empty() && waiting_.begin()->first == handed_) {
      auto next = waiting_.begin();
      Waiting& wait = next->second;
      if (wait.spooled) {  // its points come back from the spool in one read
        const auto M = static_cast<std::size_t>(wait.points);
        std::vector<double> points(3 * M);
        spool_.read(wait.at, points.data(), 3 * M);
        wait.part.time.assign(points.begin(), points.begin() + static_cast<std::ptrdiff_t>(M));
        wait.part.freq.assign(points.begin() + static_cast<std::ptrdiff_t>(M), points.begin() + static_cast<std::ptrdiff_t>(2 * M));
        wait.part.amp.assign(points.begin() + static_cast<std::ptrdiff_t>(2 * M), points.end());
      } else {
        waiting_points_ -= static_cast<std::size_t>(wait.points);
      }
      hand(wait.part);
      waiting_.erase(next);
    }
  } else {
    Waiting& wait = waiting_[id];
    wait.points = part.M();
    if (waiting_points_ + counts_[id] > kWaitingPoints) {
      wait.spooled = true;
      std::vector<double> points(part.time);
      points.insert(points.end(), part.freq.begin(), part.freq.end());
      points.insert(points.end(), part.amp.begin(), part.amp.end());
      wait.at = spool_.append(points.data(), points.size());
      wait.part.place = part.place;
      wait.part.origin = part.origin;
    } else {
      waiting_points_ += counts_[id];
      wait.part = std::move(part);
    }
  }
  part = Partial{};  // its memory goes back: what is held follows the partials under way
  free_.push_back(slot);
}

}  // namespace zarn

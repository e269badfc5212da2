// The partials of a frame format (SDIF, ATS) handed on one at a time: in a file of frames many
// partials are under way at once and end in another order than they began, so each is held
// until it and every partial begun before it have ended, then handed to a sink in the order
// they began. A first pass over the file counts each partial's rows, so that its end is known
// by its count and its room is taken once.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "io/spool.hpp"
#include "model/memory.hpp"
#include "model/partials.hpp"

namespace zarn {

/// Hands every partial of a set read whole to the sink, in order, each one's memory given back
/// before the next is taken; the set keeps the rest (its noise, what was passed over).
void hand_each(PartialSet& set, PartialSink& sink);

/// Hands partials on in the order they began, each as soon as it may be.
class InOrder {
 public:
  /// For partials of `counts` rows each (by the order they begin), handed to `sink`.
  InOrder(PartialSink& sink, const std::vector<std::size_t>& counts) : sink_(sink), counts_(counts), slot_of_(counts.size(), -1) {}

  /// Partial `id` begins: the partial its rows go to, held at its full size. Throws Failure
  /// where the partials under way would not fit in memory.
  Partial& begin(std::size_t id);
  /// The partial `id` under way, or null where it has ended (or not begun).
  Partial* under_way(std::size_t id) {
    const int slot = slot_of_[id];
    return slot < 0 ? nullptr : &slots_[static_cast<std::size_t>(slot)];
  }
  /// Called after each row added to partial `id` (under way as `part`): it ends with the last
  /// row counted.
  void added(std::size_t id, const Partial& part) {
    if (static_cast<std::size_t>(part.M()) == counts_[id]) ended(id);
  }
  /// How many partials have been handed on.
  std::size_t handed() const { return handed_; }

 private:
  // A partial that ended before one begun earlier: held, or in the spool from `at`.
  struct Waiting {
    Partial part;
    int points = 0;
    bool spooled = false;
    std::uint64_t at = 0;
  };
  // Breakpoints of waiting partials held in memory at most; the others wait on disk.
  static constexpr std::size_t kWaitingPoints = std::size_t{1} << 14;

  void ended(std::size_t id);
  void hand(Partial& part) { sink_.take(part, static_cast<int>(handed_++)); }

  PartialSink& sink_;
  const std::vector<std::size_t>& counts_;
  std::vector<Partial> slots_;
  std::vector<int> free_;     // slots free
  std::vector<int> slot_of_;  // by partial; -1 where not under way
  std::map<std::size_t, Waiting> waiting_;
  std::size_t handed_ = 0, under_way_ = 0, most_under_way_ = 0, waiting_points_ = 0;
  MemoryCheck memory_;
  Spool spool_;
};

}  // namespace zarn

// The index rule of the frame formats (SDIF, the frame export): a partial is one index
// through consecutive frames. A frame that lacks the index ends its partial, and a later frame
// with the same index starts a new one.
#pragma once

#include <cstddef>
#include <unordered_map>
#include <vector>

namespace zarn {

/// Follows the indices of one stream of frames and tells which partial each row belongs to.
/// Memory follows the rows given, never the values of indices: small indices (what real
/// files use) are looked up in a vector that grows only as far as the rows so far pay for,
/// others in a map.
class IndexRule {
 public:
  /// What a row's index is in the current frame.
  enum class Found { kNew, kContinues, kTwice };

  /// Starts the next frame.
  void next_frame() { ++frame_; }

  /// Takes a row of the current frame with `index`: kContinues with the partial it had in
  /// the frame just before, kNew (the partial given as `new_partial`) when it was absent from
  /// that frame, or kTwice when the current frame had it already. `partial` is set for the
  /// first two.
  Found take(long long index, int new_partial, int& partial) {
    Seen& seen = of(index);
    if (seen.frame == frame_) return Found::kTwice;
    const bool continues = seen.frame == frame_ - 1;
    if (!continues) seen.partial = new_partial;
    seen.frame = frame_;
    partial = seen.partial;
    return continues ? Found::kContinues : Found::kNew;
  }

 private:
  struct Seen {
    long frame = -2;
    int partial = 0;
  };
  Seen& of(long long index) {
    ++rows_;
    if (index >= 0 && static_cast<unsigned long long>(index) < direct_.size()) return direct_[static_cast<std::size_t>(index)];
    return of_elsewhere(index);
  }
  // An index beyond the vector: the vector grows to it, or the map holds it.
  Seen& of_elsewhere(long long index);

  long frame_ = -1;
  std::size_t rows_ = 0;
  std::vector<Seen> direct_;
  std::unordered_map<long long, Seen> other_;
};

}  // namespace zarn

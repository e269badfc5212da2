#include "formats/index_rule.hpp"

#include <algorithm>

namespace zarn {

namespace {

constexpr long long kDirect = 1 << 16;
constexpr std::size_t kFreeEntries = 64, kEntriesPerRow = 4;

}  // namespace

IndexRule::Seen& IndexRule::of_elsewhere(long long index) {
  const auto at = static_cast<std::size_t>(index);
  // The vector at least doubles when it grows, so that it grows a few times only.
  const std::size_t before = direct_.size();
  const std::size_t size = std::max({at + 1, 2 * before, kFreeEntries});
  if (index < 0 || index >= kDirect || size > kFreeEntries + kEntriesPerRow * rows_) return other_[index];
  // Indices of the new range that the map holds move over, so that each index has one place.
  direct_.resize(size);
  for (auto it = other_.begin(); it != other_.end();) {
    if (it->first >= static_cast<long long>(before) && it->first < static_cast<long long>(size)) {
      direct_[static_cast<std::size_t>(it->first)] = it->second;
      it = other_.erase(it);
    } else {
      ++it;
    }
  }
  return direct_[at];
}

}  // namespace zarn

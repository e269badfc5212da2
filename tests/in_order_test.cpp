// Partials handed on in the order they began, each as soon as it and every partial begun
// before it have ended: held in memory while few wait, from the spool beyond, and refused
// before any is held where those under way would not fit.
#include "formats/in_order.hpp"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "model/failure.hpp"

namespace {

struct Kept final : zarn::PartialSink {
  std::vector<zarn::Partial> parts;
  std::vector<int> numbers;
  void start(const zarn::PartialSet&, int) override {}
  void take(zarn::Partial& part, int p) override {
    parts.push_back(part);
    numbers.push_back(p);
  }
};

// Partial `id`'s row k: figures that tell every partial and row apart.
void add_row(zarn::InOrder& order, std::size_t id, std::size_t k) {
  zarn::Partial* part = order.under_way(id);
  ASSERT_NE(part, nullptr);
  zarn::add_breakpoint(*part, static_cast<double>(k), 100.0 * static_cast<double>(id + 1), 1.0 / static_cast<double>(k + 2));
  order.added(id, *part);
}

TEST(InOrder, HandedOnInTheOrderTheyBegan) {
  // Partial 0 ends last; 1 and 2 wait for it, 2 (past the points held in memory) in the spool.
  for (const std::size_t long_one : {std::size_t{10}, std::size_t{20000}}) {
    const std::vector<std::size_t> counts = {3, 5, long_one, 2};
    Kept kept;
    zarn::InOrder order(kept, counts);
    for (std::size_t id = 0; id < 3; ++id) order.begin(id);
    for (std::size_t k = 0; k < long_one; ++k) add_row(order, 2, k);
    for (std::size_t k = 0; k < 5; ++k) add_row(order, 1, k);
    EXPECT_EQ(order.handed(), 0u);
    EXPECT_EQ(order.under_way(1), nullptr);  // ended, waiting
    for (std::size_t k = 0; k < 3; ++k) add_row(order, 0, k);
    EXPECT_EQ(order.handed(), 3u);  // 0, then the two that waited for it
    order.begin(3);
    for (std::size_t k = 0; k < 2; ++k) add_row(order, 3, k);
    ASSERT_EQ(kept.numbers, (std::vector<int>{0, 1, 2, 3})) << long_one;
    for (std::size_t id = 0; id < counts.size(); ++id) {
      const zarn::Partial& part = kept.parts[id];
      ASSERT_EQ(part.time.size(), counts[id]) << id;
      for (std::size_t k = 0; k < counts[id]; ++k) {
        EXPECT_EQ(part.time[k], static_cast<double>(k));
        EXPECT_EQ(part.freq[k], 100.0 * static_cast<double>(id + 1));
        EXPECT_EQ(part.amp[k], 1.0 / static_cast<double>(k + 2));
      }
    }
  }
}

TEST(InOrder, PartialsUnderWayBeyondMemoryAreRefusedBeforeAnyIsHeld) {
  Kept kept;
  const std::vector<std::size_t> counts = {4, std::size_t{1} << 44};
  zarn::InOrder order(kept, counts);
  order.begin(0);
  try {
    order.begin(1);
    FAIL() << "2^44 points held";
  } catch (const zarn::Failure& f) {
    EXPECT_EQ(f.message.substr(0, 49), "zarn: out of memory: the partials under way need ") << f.message;
    EXPECT_EQ(f.kind, zarn::FailureKind::kOutOfMemory);
  }
}

}  // namespace

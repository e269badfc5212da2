// The index rule: one index through consecutive frames is one partial.
#include "formats/index_rule.hpp"

#include <vector>

#include <gtest/gtest.h>

namespace {

using Found = zarn::IndexRule::Found;

TEST(IndexRule, PartialsFollowIndicesThroughConsecutiveFrames) {
  // Each frame a list of indices; each row gets the partial shown, numbered as they appear.
  const struct {
    const char* what;
    std::vector<std::vector<long long>> frames;
    std::vector<std::vector<int>> partials;
  } cases[] = {
      {"two indices through three frames", {{1, 2}, {2, 1}, {1, 2}}, {{0, 1}, {1, 0}, {0, 1}}},
      {"an index that skips a frame starts anew", {{5}, {}, {5}, {5}}, {{0}, {}, {1}, {1}}},
      {"large and negative indices, alone", {{70000, -3}, {70000, -3}}, {{0, 1}, {0, 1}}},
      {"an index in the map moves to the vector as it grows",
       {{100}, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 100}},
       {{0}, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 0}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    zarn::IndexRule rule;
    int next = 0;
    for (std::size_t f = 0; f < c.frames.size(); ++f) {
      rule.next_frame();
      for (std::size_t r = 0; r < c.frames[f].size(); ++r) {
        int partial = -1;
        const Found found = rule.take(c.frames[f][r], next, partial);
        ASSERT_NE(found, Found::kTwice);
        if (found == Found::kNew) ++next;
        EXPECT_EQ(partial, c.partials[f][r]) << "frame " << f << " row " << r;
      }
    }
  }
}

TEST(IndexRule, AnIndexTwiceInOneFrame) {
  zarn::IndexRule rule;
  int partial = -1;
  rule.next_frame();
  EXPECT_EQ(rule.take(3, 0, partial), Found::kNew);
  EXPECT_EQ(rule.take(3, 1, partial), Found::kTwice);
  rule.next_frame();
  EXPECT_EQ(rule.take(3, 1, partial), Found::kContinues);
  EXPECT_EQ(partial, 0);
}

}  // namespace

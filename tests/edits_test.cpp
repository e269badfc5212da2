// The edits stage: the edits chosen apply in their order.
#include "edit/edits.hpp"

#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(Edits, ApplyInOrder) {
  zarn::PartialSet set;
  set.partials.resize(1);
  set.partials[0].time = {1.0};
  const std::vector<zarn::Edit> edits = {[](zarn::PartialSet& s) { s.partials[0].time[0] += 1; },
                                         [](zarn::PartialSet& s) { s.partials[0].time[0] *= 10; }};
  zarn::apply_edits(set, edits);
  EXPECT_EQ(set.partials[0].time[0], 20.0);  // (1 + 1) * 10, not 1 * 10 + 1
  zarn::apply_edits(set, {});
  EXPECT_EQ(set.partials[0].time[0], 20.0);
}

}  // namespace

// Straight lines between breakpoints, worked out by hand.
#include "fit/linear.hpp"

#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(Linear, BetweenAndOnTheKnots) {
  const std::vector<double> x = {0, 1, 3}, y = {10, 20, 0};
  const std::vector<double> xi = {0, 0.5, 1, 2, 2.5, 3};
  std::vector<double> yi(xi.size());
  zarn::ilinear(x.data(), y.data(), 3, xi.data(), yi.data(), 6);
  EXPECT_EQ(yi, (std::vector<double>{10, 15, 20, 10, 5, 0}));
  const double one = 7;
  zarn::ilinear(&one, &one, 1, &one, yi.data(), 1);
  EXPECT_EQ(yi[0], 7);
}

}  // namespace

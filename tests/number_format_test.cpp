// Numbers formatted as printf's "%.*f", against printf itself.
#include "io/number_format.hpp"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

std::string fixed(double v, int decimals) {
  char buffer[zarn::kMaxFixedChars];
  return std::string(buffer, zarn::format_fixed(buffer, v, decimals));
}

std::string printf_fixed(double v, int decimals) {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, v);
  return buffer;
}

TEST(FormatFixed, MatchesPrintfOnEdgeValues) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<double> values = {
      0.0, -0.0, 1.0, -1.0, 0.5, 0.0005, 0.0015, 0.0025, -0.0005, 1e-7, -1e-7, 4.9999995e-7, 5e-7, 123.4565,
      22050.0, 2.5e-4, 0.125, 0.0625, 1.0005, 2.0005, 999.9995, 9.9999995, 1e15, 1e22, 1e300, -1e300,
      DBL_MAX, -DBL_MAX, DBL_MIN, 4.9e-324, std::nextafter(0.5, 0.0), std::nextafter(0.5, 1.0),
      static_cast<double>(123.4565f), static_cast<double>(FLT_MAX), nan, -nan,
      std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
  };
  for (double v : values)
    for (int decimals : {0, 3, 6}) {
      EXPECT_EQ(fixed(v, decimals), printf_fixed(v, decimals)) << v << " " << decimals;
    }
}

TEST(FormatFixed, MatchesPrintfOnRandomValues) {
  std::mt19937_64 rng(777);
  for (int i = 0; i < 300000; ++i) {
    double v;
    const std::uint64_t r = rng();
    switch (i % 3) {
      case 0: std::memcpy(&v, &r, sizeof v); break;  // any bit pattern
      case 1: v = static_cast<double>(static_cast<std::int64_t>(r % 200000000) - 100000000) / 1e6; break;  // near ties
      default: v = static_cast<double>(static_cast<float>(std::ldexp(static_cast<double>(r >> 40), -12))); break;
    }
    if (std::fabs(v) > 1e30) v = std::fmod(v, 1e30);
    ASSERT_EQ(fixed(v, 6), printf_fixed(v, 6)) << v;
    ASSERT_EQ(fixed(v, 3), printf_fixed(v, 3)) << v;
  }
}

TEST(FormatFixed, MatchesPrintfNextToEveryKindOfTie) {
  // Values within a few ulps of a half in the last printed place, where a fast rounding could
  // go the wrong way, in the magnitudes the listing and the file meet; several million.
  std::mt19937_64 rng(4242);
  for (int decimals : {3, 6}) {
    const double scale = std::pow(10.0, decimals);
    for (int i = 0; i < 1000000; ++i) {
      const double magnitude = std::pow(10.0, static_cast<double>(rng() % 9) - 1.0);
      const double n = std::floor(static_cast<double>(rng() % 1000000) / 1e6 * magnitude * scale);
      double v = (n + 0.5) / scale;
      for (int step = static_cast<int>(rng() % 5) - 2; step != 0; step += step > 0 ? -1 : 1)
        v = std::nextafter(v, step > 0 ? 1e300 : -1e300);
      if (i % 2) v = -v;
      ASSERT_EQ(fixed(v, decimals), printf_fixed(v, decimals)) << v;
      const double narrowed = static_cast<double>(static_cast<float>(v));
      ASSERT_EQ(fixed(narrowed, decimals), printf_fixed(narrowed, decimals)) << narrowed;
    }
  }
}

}  // namespace

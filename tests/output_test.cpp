// Buffered output: formatting, padding, sinks, and the first write error kept.
#include "io/output.hpp"

#include <unistd.h>

#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(Output, FormatsPadsAndBuffersIntoASink) {
  std::string sink;
  {
    zarn::Output out(&sink);
    out.put("( POINTS\t");
    out.put_int(-12);
    out.put('\n');
    out.put_fixed(22050.0, 3, 9);
    out.put('|');
    out.put_fixed(-140.0, 3, 9);
    out.put('|');
    out.put_fixed(-std::numeric_limits<double>::quiet_NaN(), 3, 9);
    out.put('|');
    out.put_fixed(0.1, 6);
    for (int i = 0; i < 100000; ++i) out.put_fixed(i, 0, 6);  // several buffers' worth
    out.put(std::string(1 << 20, 'z'));                      // larger than the buffer
    EXPECT_TRUE(out.flush());
  }
  std::string want = "( POINTS\t-12\n22050.000| -140.000|     -nan|0.100000";
  char cell[16];
  for (int i = 0; i < 100000; ++i) {
    std::snprintf(cell, sizeof cell, "%6d", i);
    want += cell;
  }
  want += std::string(1 << 20, 'z');
  EXPECT_EQ(sink, want);
}

// The figures of the file and the listing, padded straight into the buffer, against printf's
// "%9.3f" and "%.6f" (widths from 0 to 12), over values near ties and single-precision ones.
TEST(Output, PaddedFiguresMatchPrintf) {
  std::mt19937_64 rng(4242);
  std::string sink, want;
  zarn::Output out(&sink);
  char cell[512];
  for (int i = 0; i < 300000; ++i) {
    const std::uint64_t r = rng();
    double v = i % 2 ? static_cast<double>(static_cast<std::int64_t>(r % 4000000001) - 2000000000) / 1e6
                     : static_cast<double>(static_cast<float>(std::ldexp(static_cast<double>(r >> 35), -14 + static_cast<int>(r % 20))));
    if (i % 7 == 0) v = -v;
    const int width = static_cast<int>(r % 13), decimals = i % 3 ? 3 : 6;
    out.put_fixed(v, decimals, width);
    std::snprintf(cell, sizeof cell, "%*.*f", width, decimals, v);
    want += cell;
  }
  out.flush();
  EXPECT_EQ(sink, want);
}

TEST(Output, RemembersTheFirstWriteError) {
  zarn::Output out(-1);
  out.put("lost");
  EXPECT_FALSE(out.flush());
  EXPECT_EQ(out.error(), EBADF);
}

}  // namespace

// The console's lines for a small resampled set.
#include "render/listing.hpp"

#include <string>

#include <gtest/gtest.h>

namespace {

TEST(Listing, LengthsThenBreakpoints) {
  zarn::ResampledSet set;
  set.partials.resize(2);
  set.partials[1].time = {0.5, 0.55};
  set.partials[1].freq = {440.0, 440.0000006};
  set.partials[1].amp = {0.1, -0.25};
  std::string sink;
  {
    zarn::Output out(&sink);
    zarn::write_banner(out);
    zarn::write_lengths(out, {0, 2});
    zarn::write_listing(out, set);
    out.flush();
  }
  EXPECT_EQ(sink,
            "============= KV ==============\n"
            "Len2: 0 points\nLen2: 2 points\n\n"
            "\n"
            "0.500000 --> 440.000000\t0.100000\n"
            "0.550000 --> 440.000001\t-0.250000\n\n");
}

}  // namespace

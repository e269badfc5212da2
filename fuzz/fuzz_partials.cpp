// libFuzzer target: arbitrary bytes as an input file. What reads is laid on a grid,
// resampled, listed and written, all in memory, by the same steps as a run; every rejection
// must be a clean Failure.
//
// The first byte picks the time step, the rest is the file.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "failure.hpp"
#include "formats.hpp"
#include "listing.hpp"
#include "resample.hpp"
#include "text_io.hpp"

namespace {

constexpr double kSteps[] = {0.05, 0.01, 0.0029, 0.001, 1.0, 1e-5, 123.25, 0.5};

// A grid this fine would only measure how fast memory fills.
constexpr double kMaxPoints = 1 << 16;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const double step = kSteps[data[0] % (sizeof kSteps / sizeof kSteps[0])];
  const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  try {
    zarn::PartialSet set = zarn::read_input(bytes, "fuzz");
    double points = 0;
    for (const zarn::Partial& part : set.partials) points += zarn::grid_points(part, step, "fuzz");
    if (points > kMaxPoints) return 0;
    zarn::lay_grid(set, step, "fuzz");
    zarn::resample(set);
    std::string sink;
    zarn::Output out(&sink);
    zarn::write_listing(out, set);
    zarn::result_writer(set)(out);
    out.flush();
  } catch (const zarn::Failure&) {
    // a clean rejection
  }
  return 0;
}

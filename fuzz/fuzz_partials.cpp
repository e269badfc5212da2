// libFuzzer target: arbitrary bytes as an input file. What reads is laid on a grid,
// resampled, listed, written, drawn and sounded, all in memory, by the same steps as a run;
// every rejection must be a clean Failure.
//
// The first byte chooses: its low three bits the time step; the next two bits a start put
// before the rest (nothing, the SDIF header, or the first line of either text export), so
// that every reader is reached; the next two the format written.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "failure.hpp"
#include "formats.hpp"
#include "listing.hpp"
#include "plot.hpp"
#include "resample.hpp"
#include "sdif.hpp"
#include "sound.hpp"
#include "text_io.hpp"

namespace {

constexpr double kSteps[] = {0.05, 0.01, 0.0029, 0.001, 1.0, 1e-5, 123.25, 0.5};

const std::string kStarts[] = {"", std::string(zarn::kSdifMagic) + std::string("\0\0\0\3\0\0\0\1", 8),
                               "par-text-partials-format\n", "par-text-frame-format\n"};

constexpr zarn::Format kFormats[] = {zarn::Format::kList, zarn::Format::kSdif, zarn::Format::kSpearPartials,
                                     zarn::Format::kSpearFrames};

// A grid this fine would only measure how fast memory fills.
constexpr double kMaxPoints = 1 << 16;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const double step = kSteps[data[0] & 7];
  const std::string bytes = kStarts[(data[0] >> 3) & 3] + std::string(reinterpret_cast<const char*>(data + 1), size - 1);
  const zarn::Format format = kFormats[(data[0] >> 5) & 3];
  try {
    zarn::PartialSet set = zarn::read_input(bytes, "fuzz");
    double points = 0;
    for (const zarn::Partial& part : set.partials) points += zarn::grid_points(part, step, set, "fuzz");
    if (points > kMaxPoints) return 0;
    if (zarn::is_frame_format(format))
      zarn::lay_aligned_grid(set, step, "fuzz");
    else
      zarn::lay_grid(set, step, "fuzz");
    zarn::resample(set);
    std::string sink;
    zarn::Output out(&sink);
    zarn::write_listing(out, set);
    zarn::result_writer(set, format)(out);
    zarn::write_plot(out, set, {"fuzz", step, (data[0] & 0x80) != 0});
    // The sound too, where it is short enough to be quick.
    double end = 0;
    for (const zarn::Partial& part : set.partials)
      if (part.N() > 0) end = std::max(end, part.rtime.back());
    if (end < 2.0) zarn::render(set, 8000);
    out.flush();
  } catch (const zarn::Failure&) {
    // a clean rejection
  }
  return 0;
}

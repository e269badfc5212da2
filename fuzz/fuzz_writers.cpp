// libFuzzer target: hostile partials, as a script may give them to the Python module's write
// and render (times finite and rising, frequencies any but NaN, amplitudes any finite), written
// in every format and sounded. Each writer must either refuse them with a clean Failure
// before writing, or write them; the sound's size is checked before any sample is made.
//
// The first byte: its low three bits the format, the next the aligned grid (which the frame
// formats with a frame at every step need), the rest the number of partials. Each partial takes
// a byte for its count of points and a byte for its first grid time; each figure a byte that
// picks a value from a table of ordinary and extreme ones, or the eight bytes after it as any
// double.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "fuzz_bytes.hpp"

#include "formats/ats.hpp"
#include "model/failure.hpp"
#include "formats/formats.hpp"
#include "render/sound.hpp"
#include "render/sound_file.hpp"

namespace {

// The formats written, from their table: a new one is fuzzed as soon as it has a row. Taken
// at the first input, since the table of another file may not be made before this file's
// statics are.
const std::vector<zarn::Format>& formats() {
  static const std::vector<zarn::Format> written = zarn::written_formats();
  return written;
}

// The figures a byte picks from: ordinary ones and the extremes a writer must hold or refuse.
const double kValues[] = {0,    1,   -1,   0.5,      440, 22050, 1e-300, 1e300, 3.4e38, 3.5e38, 1e39, -1e39, 4.9e-324,
                          std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(), 1e12, 123.0};

// Bytes taken as figures of the values above.
struct Bytes : zarn_fuzz::Bytes {
  Bytes(const std::uint8_t* p, std::size_t left) : zarn_fuzz::Bytes{p, left, kValues, sizeof kValues / sizeof kValues[0]} {}
};

// A resampled set within what the sinks can hold in memory: the sound's samples and an ATS
// file's frames from time 0 grow with the times, not the bytes.
constexpr double kMaxSamples = 1 << 20, kMaxBytes = 1 << 24;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const zarn::Format format = formats()[(data[0] & 7) % formats().size()];
  const bool aligned = (data[0] & 8) != 0;
  const int partials = data[0] >> 4;
  Bytes in{data + 1, size - 1};
  zarn::ResampledSet set;
  set.step = 0.01;
  set.aligned = aligned;
  for (int p = 0; p < partials; ++p) {
    std::uint8_t count, first;
    if (!in.take(count) || !in.take(first)) break;
    zarn::Resampled part;
    part.first_k = static_cast<long long>(first) * (first > 200 ? 100000 : 1);
    double time = 0;
    for (int j = 0; j < count % 32; ++j) {
      double step = 0, freq = 0, amp = 0;
      if (!in.figure(step) || !in.figure(freq) || !in.figure(amp)) break;
      // What the Python module lets through: finite rising times, no NaN frequency, finite amplitudes.
      time = aligned ? static_cast<double>(part.first_k + j) * set.step : time + (std::isfinite(step) && step > 0 ? step : 0.5);
      if (!std::isfinite(time) || std::isnan(freq) || !std::isfinite(amp)) break;
      part.time.push_back(time);
      part.freq.push_back(freq);
      part.amp.push_back(amp);
    }
    set.partials.push_back(std::move(part));
  }
  try {
    zarn::check_result(set, format);
    if (format != zarn::Format::kAts || zarn::ats_bytes(set) <= kMaxBytes) {
      std::string sink;
      zarn::Output out(&sink);
      zarn::result_writer(set, format)(out);
      out.flush();
    }
  } catch (const zarn::Failure&) {
    // refused before writing
  }
  try {
    const double length = zarn::sound_length(set, 8000);
    zarn::check_sound_size("-", length, 8000, zarn::SampleDepth::k16);
    if (length <= kMaxSamples) {
      zarn::SoundStream stream(set, 8000);
      std::string sink;
      zarn::Output out(&sink);
      zarn::detail::put_wav(out, {stream.length(), [&](float* o, std::size_t n) { return stream.next(o, n); }}, 8000,
                            zarn::SampleDepth::k16);
      out.flush();
    }
  } catch (const zarn::Failure&) {
    // refused before any sample
  }
  return 0;
}

// libFuzzer target: arbitrary bytes as an input file. What reads is laid on a grid,
// resampled, listed, written, drawn and sounded, all in memory, by the same steps as a run;
// every rejection must be a clean Failure. Read a partial at a time, as a run that streams
// reads, the bytes must give the same partials or the same failure.
//
// The first byte chooses: its low three bits the time step (seven round ones, or the eight
// bytes after the second as any double, so that extreme steps are reached too), its high bit
// the picture's axis. The second byte chooses: its low three bits a start put before the rest
// (nothing, the SDIF header, the first line of either text export, or an ATS header), so that
// every reader is reached; the next three the format written.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <cmath>
#include <vector>
#include <string>
#include <string_view>

#include "edit/recipe.hpp"
#include "formats/ats.hpp"
#include "model/failure.hpp"
#include "formats/formats.hpp"
#include "render/listing.hpp"
#include "render/plot.hpp"
#include "fit/resample.hpp"
#include "formats/sdif.hpp"
#include "render/sound.hpp"
#include "formats/sound_input.hpp"
#include "io/output.hpp"

namespace {

constexpr double kSteps[] = {0.05, 0.01, 0.0029, 0.001, 1.0, 1e-5, 123.25};

// 123.0 in this machine's byte order, as an ATS file starts.
std::string ats_magic() {
  const double magic = 123.0;
  return std::string(reinterpret_cast<const char*>(&magic), sizeof magic);
}

const std::string kStarts[] = {"", std::string(zarn::kSdifMagic) + std::string("\0\0\0\3\0\0\0\1", 8),
                               "par-text-partials-format\n", "par-text-frame-format\n", ats_magic()};

// The formats written, from their table: a new one is fuzzed as soon as it has a row. Taken
// at the first input, since the table of another file may not be made before this file's
// statics are.
const std::vector<zarn::Format>& formats() {
  static const std::vector<zarn::Format> written = zarn::written_formats();
  return written;
}

// A grid this fine would only measure how fast memory fills.
constexpr double kMaxPoints = 1 << 16;
constexpr double kMaxAtsInMemory = 1 << 24;

}  // namespace

// An input that starts with '{' is a recipe: read, and where it reads, replayed on three
// partials as if made for them.
void recipe(const std::string& text) {
  zarn::PartialSet set;
  for (int p = 0; p < 3; ++p) {
    set.partials.emplace_back();
    set.partials.back().time = {0.1 * p, 0.1 * p + 0.3, 0.1 * p + 0.5};
    set.partials.back().freq = {110.0 * (p + 1), 111.0 * (p + 1), 109.0 * (p + 1)};
    set.partials.back().amp = {0.1, 0.2, 0.05};
  }
  try {
    zarn::Recipe r = zarn::parse_recipe(text, "fuzz");
    r.fingerprint = zarn::fingerprint(set);
    if (r.partials != 3) return;
    zarn::apply_recipe(set, r, "fuzz");
  } catch (const zarn::Failure&) {
  }
}

// The same bytes read a partial at a time, as a run that streams reads them, must give the
// same partials in the same order at the same places, or fail with the same message (where the
// whole read failed, `whole` is null: what is handed on before the failure is not judged).
struct SameAsWhole final : zarn::PartialSink {
  explicit SameAsWhole(const zarn::PartialSet* whole) : whole_(whole) {}
  void start(const zarn::PartialSet&, int count) override {
    if (started_ || (whole_ != nullptr && count != whole_->P())) __builtin_trap();
    started_ = true;
  }
  void take(zarn::Partial& part, int p) override {
    if (!started_ || p != next_++) __builtin_trap();
    if (whole_ == nullptr) return;
    if (p >= whole_->P()) __builtin_trap();
    const zarn::Partial& want = whole_->partials[static_cast<std::size_t>(p)];
    if (part.time != want.time || part.freq != want.freq || part.amp != want.amp || !(part.place == want.place)) __builtin_trap();
  }
  void finish() const {
    if (!started_ || next_ != whole_->P()) __builtin_trap();
  }

 private:
  const zarn::PartialSet* whole_;
  bool started_ = false;
  int next_ = 0;
};

void read_each_alike(const std::string& bytes) {
  std::string failure;
  zarn::PartialSet whole;
  try {
    whole = zarn::read_input(bytes, "fuzz");
  } catch (const zarn::Failure& f) {
    failure = f.message;
  }
  SameAsWhole sink(failure.empty() ? &whole : nullptr);
  try {
    zarn::read_input_each(bytes, "fuzz", sink);
  } catch (const zarn::Failure& f) {
    if (f.message != failure) __builtin_trap();
    return;
  }
  if (!failure.empty()) __builtin_trap();
  sink.finish();
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 0 && data[0] == '{') return recipe(std::string(reinterpret_cast<const char*>(data), size)), 0;
  if (size < 2) return 0;
  double step = 0;
  std::size_t used = 2;
  if ((data[0] & 7) < 7) {
    step = kSteps[data[0] & 7];
  } else {
    if (size < 10) return 0;
    std::memcpy(&step, data + 2, sizeof step);
    step = std::fabs(step);
    used = 10;
    if (!(step > 0) || !std::isfinite(step)) return 0;  // refused by the command line
  }
  const std::string bytes = kStarts[(data[1] & 7) % 5] + std::string(reinterpret_cast<const char*>(data + used), size - used);
  const zarn::Format format = formats()[((data[1] >> 3) & 7) % formats().size()];
  // Sound files are decoded by libsndfile, which is not this target's to fuzz.
  if (zarn::is_sound(bytes)) return 0;
  read_each_alike(bytes);
  try {
    const zarn::PartialSet read = zarn::read_input(bytes, "fuzz");
    double points = 0;
    for (const zarn::Partial& part : read.partials) points += zarn::grid_points(part, step, read, "fuzz");
    if (points > kMaxPoints) return 0;
    zarn::ResampledSet set = zarn::lay_planned(
        read, zarn::plan_grid(read, step, zarn::is_frame_format(format) ? zarn::GridKind::kAligned : zarn::GridKind::kOwn, "fuzz"));
    zarn::resample(read, set);
    std::string sink;
    zarn::Output out(&sink);
    zarn::write_listing(out, set);
    zarn::check_result(set, format);
    // An ATS file's frames run from time 0: partials late in time make a file that the tool
    // checks against its bound, and that memory here need not hold.
    if (format == zarn::Format::kAts && zarn::ats_bytes(set) > kMaxAtsInMemory) return 0;
    zarn::result_writer(set, format)(out);
    zarn::write_plot(out, set, &read, {"fuzz", step, (data[0] & 0x80) != 0});
    // The sound of every partial, wherever its times lie, into the first second.
    std::vector<double> sound(8000, 0.0);
    for (const zarn::Resampled& part : set.partials) zarn::detail::add_partial(part, set.step, 8000, sound);
    out.flush();
  } catch (const zarn::Failure&) {
    // a clean rejection
  }
  return 0;
}

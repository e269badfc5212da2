#include "formats/ats.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <optional>
#include <queue>
#include <string>
#include <vector>

#include "formats/in_order.hpp"
#include "model/failure.hpp"
#include "model/phase.hpp"

namespace zarn {

namespace {

constexpr double kMagic = 123.0;
constexpr std::uint64_t kHeaderValues = 10, kNoiseBands = 25;
// A band's noise energy E in a file whose window is W samples is played by csound's ATSaddnz
// as noise of mean square kNoisePower E / W (measured on ten seconds of each of several bands
// and windows); zarn holds the mean square.
constexpr double kNoisePower = 2.78;

std::uint64_t bits_of(double v) {
  std::uint64_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

std::uint64_t swapped(std::uint64_t b) { return __builtin_bswap64(b); }

std::string figure(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", v);
  return text;
}

class AtsReader {
 public:
  explicit AtsReader(Input& in) : in_(in) { set_.places = PartialSet::Places::kBytes; }

  PartialSet read() {
    walk();
    return std::move(set_);
  }

  // Reads as read() does, handing each partial to the sink, in their order, as its last frame
  // is read (InOrder): a first pass checks the file, counts each partial's frames and reads
  // the noise; the second hands the partials on. Memory holds the partials under way and the
  // noise, not the file. A pipe is read whole first.
  PartialSet read_each(PartialSet input, PartialSink& sink) {
    set_.format = std::move(input.format);
    if (!in_.can_rewind()) {
      walk();
      hand_each(set_, sink);
      return std::move(set_);
    }
    pass_ = Pass::kCount;
    walk();
    sink.start(set_, static_cast<int>(counts_.size()));
    if (!in_.rewind()) throw system_failure(in_.name(), errno, "cannot read it a second time");
    order_.emplace(sink, counts_);
    pass_ = Pass::kStream;
    open_.clear();
    swap_ = false;
    walk();
    if (order_->handed() != counts_.size() || begun_ != counts_.size()) changed();
    return std::move(set_);
  }

 private:
  // The passes over the input: reading whole in one, or counting then handing on.
  enum class Pass { kStore, kCount, kStream };

  void walk() {
    double h[kHeaderValues];
    for (std::uint64_t i = 0; i < kHeaderValues; ++i) h[i] = value(0, "the header");
    const double partials = h[4], frames = h[5], type = h[9];
    const auto whole = [](double v) { return std::isfinite(v) && v >= 0 && v == std::floor(v) && v < 1e15; };
    if (!whole(type) || type < 1 || type > 4) fail(72, "file type " + figure(type) + ": ATS files are of type 1 to 4");
    if (!whole(partials)) fail(32, "the number of partials " + figure(partials) + " is not a whole number");
    if (!whole(frames)) fail(40, "the number of frames " + figure(frames) + " is not a whole number");
    const auto t = static_cast<int>(type);
    const auto columns = static_cast<std::uint64_t>(partials), count = static_cast<std::uint64_t>(frames);
    const std::uint64_t per_column = t == 2 || t == 4 ? 3 : 2;
    const std::uint64_t noise = t >= 3 ? kNoiseBands : 0;
    // The counts must fit the file: checked by division, so that no product wraps around.
    const std::uint64_t remaining = in_.remaining_bytes();
    if (remaining != UINT64_MAX) {
      const std::uint64_t values = remaining / 8;
      // A header of partials and no frames is a file of 80 bytes.
      const bool fits = remaining % 8 == 0 &&
                        (count == 0 ? values == 0
                                    : columns <= values / per_column && count <= values / (1 + noise + columns * per_column) + 1 &&
                                          count * (1 + noise + columns * per_column) == values);
      if (!fits)
        fail(32, "the header's " + figure(partials) + " partials and " + figure(frames) + " frames of type " +
                     std::to_string(t) + " do not fit the file's " + std::to_string(remaining + 80) + " bytes");
    }
    // The second pass of two reads what the first took again: only the partials are new.
    const bool again = pass_ == Pass::kStream;
    if (!again) {
      set_.about.push_back({"ATS type", std::to_string(t) + (per_column == 3 ? " (amplitude, frequency, phase)" : " (amplitude, frequency)") +
                                            (noise > 0 ? ", noise bands" : "")});
      set_.about.push_back({"Sample rate", figure(h[1]) + " Hz"});
      set_.about.push_back({"Frame size", figure(h[2]) + " samples, window " + figure(h[3])});
      set_.about.push_back({"Columns", figure(partials) + " in " + figure(frames) + " frames"});
    }
    const double window = h[3];
    if (noise > 0) {
      if (!std::isfinite(window) || !(window > 0)) fail(24, "window size " + figure(window) + ": a file with noise bands needs one above zero");
      if (!again) set_.noise = critical_band_noise();
    }
    double last_time = -std::numeric_limits<double>::infinity();
    for (std::uint64_t f = 0; f < count; ++f) {
      const std::uint64_t at = in_.offset();
      const double time = value(at, "a frame");
      if (!std::isfinite(time)) fail(at, "frame time " + figure(time) + " is not finite");
      if (!(time > last_time)) fail(at, "frame time " + figure(time) + " is not later than the frame before, at " + figure(last_time));
      last_time = time;
      for (std::uint64_t c = 0; c < columns; ++c) {
        const std::uint64_t row = in_.offset();
        const double amp = value(at, "a frame"), freq = value(at, "a frame");
        const double phase = per_column == 3 ? value(at, "a frame") : std::numeric_limits<double>::quiet_NaN();
        if (!std::isfinite(amp) || amp < 0)
          fail(row, "amplitude " + figure(amp) + " of partial " + std::to_string(c) + " is negative or not finite");
        if (!std::isfinite(freq)) fail(row, "frequency " + figure(freq) + " of partial " + std::to_string(c) + " is not finite");
        point(row, c, time, freq, amp, phase);
      }
      if (noise > 0 && !again) set_.noise.times.push_back(time);
      for (std::uint64_t b = 0; b < noise; ++b) {
        const std::uint64_t where = in_.offset();
        const double energy = value(at, "a frame");
        if (!std::isfinite(energy) || energy < 0) fail(where, "noise energy " + figure(energy) + " of band " + std::to_string(b + 1) + " is negative or not finite");
        // Finite energies over a small window can still make a power beyond any double, which
        // no format could write back.
        const double power = kNoisePower * energy / window;
        if (!std::isfinite(power))
          fail(where, "noise energy " + figure(energy) + " of band " + std::to_string(b + 1) + " over the window of " + figure(window) + " samples is beyond any level");
        if (!again) set_.noise.power.push_back(power);
      }
    }
    if (!in_.at_end()) fail(in_.offset(), "the file goes on after the " + figure(frames) + " frames that its header gives");
    if (!again && set_.partials.empty() && counts_.empty())
      set_.passed_over = count == 0 ? "no frames" : "no amplitude above zero in any frame";
  }

  [[noreturn]] void changed() const { throw Failure(compose(in_.name(), "the file changed while it was read")); }

  [[noreturn]] void fail(std::uint64_t at, const std::string& what) const {
    throw Failure(compose_at_byte(in_.name(), at, what));
  }

  // The next value, in the file's byte order; the end of the file within `what` (which
  // starts at byte `at`) is a fault.
  double value(std::uint64_t at, const char* what) {
    char b[8];
    if (!in_.take(b, 8)) fail(at, std::string("the file ends inside ") + what + " that starts here");
    std::uint64_t u;
    std::memcpy(&u, b, 8);
    if (in_.offset() == 8) swap_ = u != bits_of(kMagic);  // the first value tells the byte order
    if (swap_) u = swapped(u);
    double v;
    std::memcpy(&v, &u, 8);
    return v;
  }

  // Column c at one frame: present where its amplitude is above zero. Columns are met in
  // order in the first frame, so that what is kept for them grows with the data.
  void point(std::uint64_t at, std::uint64_t c, double time, double freq, double amp, double phase) {
    if (open_.size() <= c) open_.resize(c + 1, -1);
    int& partial = open_[c];
    if (!(amp > 0)) {
      partial = -1;
      return;
    }
    if (partial < 0) {
      switch (pass_) {
        case Pass::kStore:
          partial = set_.P();
          set_.partials.emplace_back();
          set_.partials.back().place = static_cast<double>(at);
          break;
        case Pass::kCount:
          partial = static_cast<int>(counts_.size());
          counts_.push_back(0);
          break;
        case Pass::kStream:
          if (begun_ >= counts_.size()) changed();
          partial = static_cast<int>(begun_++);
          order_->begin(begun_ - 1).place = static_cast<double>(at);
          break;
      }
    }
    const auto p = static_cast<std::size_t>(partial);
    if (pass_ == Pass::kCount) {
      ++counts_[p];
      return;
    }
    // The smallest positive double is how silence within a partial is written: read as 0.
    const double level = amp == std::numeric_limits<double>::min() ? 0.0 : amp;
    Partial* part = pass_ == Pass::kStore ? &set_.partials[p] : order_->under_way(p);
    if (part == nullptr) changed();  // longer than the first pass counted
    // Types 2 and 4 hold phases: a partial keeps them while every frame of it has a finite one.
    if (std::isfinite(phase) && part->phase.size() == part->time.size()) part->phase.push_back(phase);
    add_breakpoint(*part, time, held_low_frequency(freq), level);
    if (pass_ == Pass::kStream) order_->added(p, *part);
  }

  Input& in_;
  Pass pass_ = Pass::kStore;
  std::vector<std::size_t> counts_;  // frames of each partial, counted by the first pass
  std::size_t begun_ = 0;            // partials begun in the second
  std::optional<InOrder> order_;     // handing on (kStream)
  PartialSet set_;
  bool swap_ = false;
  std::vector<int> open_;  // the partial each column is in, or -1
};

void put(Output& out, double v) {
  char b[8];
  std::memcpy(b, &v, 8);
  out.put(std::string_view(b, 8));
}

}  // namespace

bool is_ats(std::string_view start) {
  if (start.size() < 8) return false;
  std::uint64_t u;
  std::memcpy(&u, start.data(), 8);
  return u == bits_of(kMagic) || swapped(u) == bits_of(kMagic);
}

PartialSet read_ats(Input& in) { return AtsReader(in).read(); }

PartialSet read_ats_each(Input& in, PartialSet input, PartialSink& sink) { return AtsReader(in).read_each(std::move(input), sink); }

namespace {

// Where each partial goes: the partials with points, by their first grid time; each takes the
// column that came free earliest, if it is free one frame before the partial starts, else a
// new one. Frames run from time 0 (players find a frame by its time from the file's start).
struct AtsLayout {
  std::vector<std::size_t> order, column;
  std::size_t columns = 0;
  long long k_first = 0, k_last = -1;

  bool noise = false;  // the frames hold the noise bands too (type 4)

  explicit AtsLayout(const ResampledSet& set) : column(set.partials.size(), 0) {
    for (std::size_t p = 0; p < set.partials.size(); ++p)
      if (set.partials[p].N() > 0) order.push_back(p);
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return set.partials[a].first_k < set.partials[b].first_k; });
    using Free = std::pair<long long, std::size_t>;  // (first frame k it may start at, column)
    std::priority_queue<Free, std::vector<Free>, std::greater<Free>> free;
    for (std::size_t p : order) {
      const Resampled& part = set.partials[p];
      const long long last = part.first_k + part.N() - 1;
      if (!free.empty() && free.top().first <= part.first_k) {
        column[p] = free.top().second;
        free.pop();
      } else {
        column[p] = columns++;
      }
      free.push({last + 2, column[p]});  // a silent frame between two partials of one column
      k_first = std::min(k_first, part.first_k);
      k_last = std::max(k_last, last);
    }
    // The noise in the 25 critical bands, as ATS holds it (noise on other edges carried onto
    // them), with frames to its last.
    noise = !set.noise.empty() && set.step > 0;
    // A last frame beyond what a count holds (noise moved to 1e300 s) is counted as far past
    // any file zarn writes, so that the size check refuses it.
    const double last_noise = noise ? std::floor(set.noise.times.back() / set.step + 0.5) : 0.0;
    if (noise) k_last = std::max(k_last, last_noise < 1e18 ? static_cast<long long>(last_noise) : 1000000000000000000LL);
  }
  long long frames() const { return k_last - k_first + 1; }
};

}  // namespace

namespace {

double bytes_of(const AtsLayout& layout) {
  // The size follows the grid from time 0: a partial late in time makes every frame before it.
  return 80.0 + static_cast<double>(std::max(layout.frames(), 0LL)) * 8.0 *
                    (1.0 + 3.0 * static_cast<double>(layout.columns) + (layout.noise ? static_cast<double>(kNoiseBands) : 0.0));
}

}  // namespace

double ats_bytes(const ResampledSet& set) { return bytes_of(AtsLayout(set)); }

void check_ats(const ResampledSet& set) {
  check_figures(set, {"an ATS file", false, false});
  const AtsLayout layout(set);
  const double bytes = bytes_of(layout);
  if (bytes > kMaxAtsBytes) {
    char size[160];
    const bool beyond = layout.frames() >= 1000000000000000000LL;  // counted as the layout caps it
    std::snprintf(size, sizeof size, "an ATS file of %s%lld frames (from time 0, every %g) by %zu partials would take %s, more than the 4 GiB zarn writes",
                  beyond ? "more than " : "", beyond ? 1000000000000000000LL : layout.frames(), set.step, layout.columns,
                  (beyond ? "more than " + shown_bytes(bytes) : shown_bytes(bytes)).c_str());
    throw failure(std::string(size) + "; nothing saved (SDIF and the list hold partials where they lie)");
  }
}

void write_ats(Output& out, const ResampledSet& set, int rate) {
  const AtsLayout layout(set);
  const std::vector<std::size_t>& order = layout.order;
  const std::vector<std::size_t>& column = layout.column;
  const std::size_t columns = layout.columns;
  const Noise carried = layout.noise && set.noise.edges != critical_band_edges() ? on_edges(set.noise, critical_band_edges()) : Noise();
  const Noise& noise = carried.empty() ? set.noise : carried;
  const long long k_first = layout.k_first, k_last = layout.k_last, frames = layout.frames();

  // The frames: each column's partial at that frame, or silence.
  constexpr double kTiny = std::numeric_limits<double>::min();
  std::vector<std::size_t> at(columns, SIZE_MAX);  // the partial in each column now
  std::size_t begun = 0;                           // partials of `order` that have begun
  std::vector<double> phase(set.partials.size(), 0.0);
  double max_amp = 0, max_freq = 0;
  for (std::size_t p : order)
    for (std::size_t j = 0; j < set.partials[p].time.size(); ++j) {
      max_amp = std::max(max_amp, std::max(set.partials[p].amp[j], kTiny));
      max_freq = std::max(max_freq, set.partials[p].freq[j]);
    }
  const double step = set.step, samples = std::round(step * rate);
  // A file with noise needs a window (its energies are per window): at least one sample.
  const double window = layout.noise ? std::max(samples, 1.0) : samples;
  for (double v : {kMagic, static_cast<double>(rate), samples, window, static_cast<double>(columns),
                   static_cast<double>(std::max(frames, 0LL)), max_amp, max_freq, static_cast<double>(std::max(frames, 0LL)) * step,
                   layout.noise ? 4.0 : 2.0})
    put(out, v);
  std::vector<double> bands(kNoiseBands);
  for (long long k = k_first; k <= k_last; ++k) {
    for (; begun < order.size() && set.partials[order[begun]].first_k == k; ++begun) at[column[order[begun]]] = order[begun];
    put(out, static_cast<double>(k) * step);
    for (std::size_t c = 0; c < columns; ++c) {
      const std::size_t p = at[c];
      if (p == SIZE_MAX) {
        put(out, 0), put(out, 0), put(out, 0);
        continue;
      }
      const Resampled& part = set.partials[p];
      const auto j = static_cast<std::size_t>(k - part.first_k);
      if (part.phase.size() == part.time.size())
        phase[p] = part.phase[j];  // its own
      else if (j > 0)
        phase[p] = next_phase(phase[p], part.time[j - 1], part.freq[j - 1], part.time[j], part.freq[j]);
      put(out, part.amp[j] > 0 ? part.amp[j] : kTiny);
      put(out, part.freq[j]);
      put(out, phase[p]);
      if (j + 1 == part.time.size()) at[c] = SIZE_MAX;
    }
    if (layout.noise) {
      noise.at(static_cast<double>(k) * step, bands.data());
      for (double power : bands) put(out, power * window / kNoisePower);
    }
  }
}

}  // namespace zarn

#include "formats/sdif.hpp"

#include <algorithm>
#include <climits>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "formats/frames.hpp"
#include "formats/index_rule.hpp"
#include "model/failure.hpp"
#include "formats/sdif_bytes.hpp"
#include "formats/in_order.hpp"
#include "model/phase.hpp"

namespace zarn {

namespace {

using namespace detail::sdif;

// How many frames of each type. A file holds a few types, but a hostile one may hold a type
// per frame: counted in a hash map, and listed as the first few by name.
class TypeCounts {
 public:
  void add(std::uint32_t sig) {
    if (last_ != nullptr && last_sig_ == sig) {
      ++*last_;
      return;
    }
    last_ = &counts_[sig];
    last_sig_ = sig;
    ++*last_;
  }
  long of(std::uint32_t sig) const {
    const auto at = counts_.find(sig);
    return at == counts_.end() ? 0 : at->second;
  }
  bool empty() const { return counts_.empty(); }
  // "N TYPE" by type, or "none"; names that are not plain text are shown escaped.
  std::string text() const {
    constexpr std::size_t kListed = 8;
    std::map<std::string, long> by_name;
    for (const auto& [sig, n] : counts_) {
      char name[4];
      put32(name, sig);
      by_name[std::string(name, sizeof name)] += n;
    }
    std::string t;
    std::size_t listed = 0;
    for (const auto& [name, n] : by_name) {
      if (listed++ == kListed) {
        t += " and " + std::to_string(by_name.size() - kListed) + " other types";
        break;
      }
      t += (t.empty() ? "" : ", ") + std::to_string(n) + " " + printable(name);
    }
    return t.empty() ? std::string("none") : t;
  }

 private:
  // A type's four bytes as text: plain characters as they are, others as \xNN.
  static std::string printable(const std::string& name) {
    std::string out;
    for (const char c : name) {
      const auto u = static_cast<unsigned char>(c);
      if (u >= 0x20 && u < 0x7f) {
        out += c;
      } else {
        char hex[5];
        std::snprintf(hex, sizeof hex, "\\x%02x", u);
        out += hex;
      }
    }
    return out;
  }

  std::unordered_map<std::uint32_t, long> counts_;
  long* last_ = nullptr;  // the count of the type seen last (frames of a type come in runs)
  std::uint32_t last_sig_ = 0;
};

std::string type_name(const char* type) { return quote(std::string_view(type, 4)); }

std::string number(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", v);
  return text;
}

// One stream of track frames: its last frame time and its indices.
struct Stream {
  double last_time = -std::numeric_limits<double>::infinity();
  IndexRule indices;
};

class SdifReader {
 public:
  explicit SdifReader(Input& in) : in_(in) { set_.places = PartialSet::Places::kBytes; }

  PartialSet read() {
    // An input that can be read twice is: first to check it and count each partial's rows,
    // then to take the rows into arrays of their exact size. Memory then holds the partials
    // and nothing more; a pipe is read once, its arrays growing as rows come.
    if (!in_.can_rewind()) {
      pass_ = Pass::kStore;
      walk();
      describe();
      return std::move(set_);
    }
    count();
    // What the second pass fills is held at its size, before the rows take their room.
    set_.partials.resize(starts_.size());
    for (std::size_t p = 0; p < set_.partials.size(); ++p) {
      Partial& part = set_.partials[p];
      part.place = starts_[p].place;
      part.origin = starts_[p].origin;
      part.time.reserve(counts_[p]);
      part.freq.reserve(counts_[p]);
      part.amp.reserve(counts_[p]);
    }
    again(Pass::kFill);
    // Checked as the first pass was; what differs is a file changed in between.
    for (std::size_t p = 0; p < set_.partials.size(); ++p)
      if (p >= filled_ || static_cast<std::size_t>(set_.partials[p].M()) != counts_[p]) changed();
    return std::move(set_);
  }

  // Reads as read() does, handing each partial to the sink, in their order, as its last row is
  // read (InOrder): memory holds the partials under way, not the file. A pipe is read whole
  // first.
  PartialSet read_each(PartialSet input, PartialSink& sink) {
    set_.format = std::move(input.format);
    if (!in_.can_rewind()) {
      PartialSet whole = read();
      hand_each(whole, sink);
      return whole;
    }
    count();
    sink.start(set_, static_cast<int>(starts_.size()));
    order_.emplace(sink, counts_);
    again(Pass::kStream);
    if (order_->handed() != starts_.size() || filled_ != starts_.size()) changed();
    return std::move(set_);
  }

 private:
  // The passes over the input: counting then filling or handing on, or storing in one.
  enum class Pass { kCount, kFill, kStream, kStore };

  // True in the pass that sees the file first (the second of two counts nothing again).
  bool first_look() const { return pass_ == Pass::kCount || pass_ == Pass::kStore; }

  // The first pass, which checks the file and counts each partial's rows, then what it saw.
  void count() {
    pass_ = Pass::kCount;
    walk();
    counts_.reserve(counted_.size());
    for (const Counted& c : counted_) counts_.push_back(c.rows);
    std::vector<Counted>().swap(counted_);
    starts_.shrink_to_fit();
    describe();
  }

  // The second pass, from the start again; the first kept no rows, so an input that cannot be
  // read again is a failure.
  void again(Pass pass) {
    if (!in_.rewind()) throw system_failure(in_.name(), errno, "cannot read it a second time");
    pass_ = pass;
    streams_.clear();
    stream_ = nullptr;
    walk();
  }

  // What was seen, for --info and for a result with no partials.
  void describe() {
    set_.about.push_back({"Streams", std::to_string(streams_.size()) + " with tracks"});
    set_.about.push_back({"Frames", frames_.text()});
    set_.about.push_back({"Passed over", passed_.text()});
    if (frames_.of(k1TRC) == 0 && frames_.of(k1HRM) == 0)
      set_.passed_over = "no 1TRC or 1HRM frames" + (passed_.empty() ? std::string() : "; " + passed_.text() + " frames passed over");
    else if (set_.P() == 0 && starts_.empty())
      set_.passed_over = "its 1TRC and 1HRM frames hold no rows";
  }

  // The header, then every frame.
  void walk() {
    char header[16];
    if (!in_.take(header, sizeof header) || std::string_view(header, 8) != kSdifMagic)
      fail(0, "not an SDIF file header (\"SDIF\" and a header size of 8)");
    while (!in_.at_end()) frame();
  }

  [[noreturn]] void fail(std::uint64_t at, const std::string& what) const {
    throw Failure(compose_at_byte(in_.name(), at, what));
  }

  // Takes n bytes of the frame that starts at `frame_start`.
  void take(char* dst, std::size_t n, std::uint64_t frame_start) {
    if (!in_.take(dst, n)) fail(frame_start, "the file ends inside the frame that starts here");
  }
  void skip(std::uint64_t n, std::uint64_t frame_start) {
    if (!in_.skip(n)) fail(frame_start, "the file ends inside the frame that starts here");
  }

  void frame() {
    const std::uint64_t start = in_.offset();
    char h[24];
    take(h, sizeof h, start);
    const std::int32_t size = i32(h + 4);
    if (size < static_cast<std::int32_t>(kFrameHeaderAfterSize))
      fail(start, "frame size " + std::to_string(size) + " is smaller than a frame header");
    const std::uint64_t end = start + 8 + static_cast<std::uint64_t>(size);
    if (first_look()) frames_.add(be32(h));
    if (!is_track(h)) {  // name-value tables, type declarations, markers: not tracks
      if (first_look()) passed_.add(be32(h));
      skip(end - in_.offset(), start);
      return;
    }
    const double time = f64(h + 8);
    const std::int32_t stream_id = i32(h + 16);
    const std::int32_t matrices = i32(h + 20);
    if (!std::isfinite(time)) fail(start, "the time of a " + type_name(h) + " frame is not finite");
    if (matrices < 0) fail(start, "matrix count " + std::to_string(matrices) + " is negative");
    if (stream_ == nullptr || stream_id != stream_id_) {  // frames of one stream come in runs
      stream_ = &streams_[stream_id];
      stream_id_ = stream_id;
    }
    Stream& stream = *stream_;
    if (time < stream.last_time)
      fail(start, "time " + number(time) + " goes back from " + number(stream.last_time) + " in stream " +
                      std::to_string(stream_id));
    stream.last_time = time;
    stream.indices.next_frame();
    for (std::int32_t m = 0; m < matrices; ++m) matrix(start, end, time, stream_id, stream);
    if (in_.offset() != end)
      fail(start, "the frame's size says " + std::to_string(size) + " bytes, but its matrices take " +
                      std::to_string(in_.offset() - start - 8));
  }

  void matrix(std::uint64_t frame_start, std::uint64_t frame_end, double time, std::int32_t stream_id, Stream& stream) {
    const std::uint64_t start = in_.offset();
    if (start + kMatrixHeader > frame_end)
      fail(frame_start, "the frame's matrix count says more matrices than its size of " +
                            std::to_string(frame_end - frame_start - 8) + " bytes holds");
    char h[kMatrixHeader];
    take(h, sizeof h, frame_start);
    const std::uint32_t data_type = be32(h + 4);
    const std::int32_t rows = i32(h + 8), columns = i32(h + 12);
    if (rows < 0 || columns < 0) fail(start, "a matrix of " + std::to_string(rows) + " rows and " + std::to_string(columns) + " columns");
    // The size is checked against the room left in the frame before it is padded: rows times
    // columns (each below 2^31) cannot wrap around, and the product with the width is checked.
    const std::uint64_t width = data_type & 0xff;
    const std::uint64_t room = frame_end - (start + kMatrixHeader);
    const auto n_rows = static_cast<std::uint64_t>(rows), n_columns = static_cast<std::uint64_t>(columns);
    std::uint64_t bytes = 0;
    if (__builtin_mul_overflow(n_rows * n_columns, width, &bytes) || bytes > room || padded8(bytes) > room)
      fail(start, "the matrix's " + std::to_string(rows) + " rows of " + std::to_string(columns) + " columns of " +
                      std::to_string(width) + " bytes run past the end of its frame");
    if (!is_track(h)) {
      skip(padded8(bytes), frame_start);
      return;
    }
    if (data_type != kFloat32 && data_type != kFloat64) {
      char hex[16];
      std::snprintf(hex, sizeof hex, "0x%04x", data_type);
      fail(start, "data type " + std::string(hex) + " in a " + type_name(h) + " matrix: track data must be 32- or 64-bit floats");
    }
    if (columns < 3)
      fail(start, "a " + type_name(h) + " matrix of " + std::to_string(columns) +
                      " columns: tracks need index, frequency and amplitude");
    const bool harmonic = std::memcmp(h, "1HRM", 4) == 0;
    if (width == 4)
      rows_of_pass<4>(frame_start, time, stream_id, stream, harmonic, rows, n_columns);
    else
      rows_of_pass<8>(frame_start, time, stream_id, stream, harmonic, rows, n_columns);
    skip(padded8(bytes) - bytes, frame_start);
  }

  // The rows of a matrix, by a loop made for the pass at hand.
  template <int kWidth>
  void rows_of_pass(std::uint64_t frame_start, double time, std::int32_t stream_id, Stream& stream, bool harmonic, std::int32_t rows,
                    std::uint64_t columns) {
    switch (pass_) {
      case Pass::kCount:
        return rows_of<kWidth, Pass::kCount>(frame_start, time, stream_id, stream, harmonic, rows, columns);
      case Pass::kFill:
        return rows_of<kWidth, Pass::kFill>(frame_start, time, stream_id, stream, harmonic, rows, columns);
      case Pass::kStream:
        return rows_of<kWidth, Pass::kStream>(frame_start, time, stream_id, stream, harmonic, rows, columns);
      case Pass::kStore:
        return rows_of<kWidth, Pass::kStore>(frame_start, time, stream_id, stream, harmonic, rows, columns);
    }
  }

  // The rows of a matrix of kWidth-byte floats: the first three columns of each, and the
  // fourth (the phase) where there is one, the rest passed over. Rows are taken in bulk from what the input holds; a row wider than
  // kBulkRow is taken on its own, so that no long row makes the input hold more.
  template <int kWidth, Pass kPass>
  void rows_of(std::uint64_t frame_start, double time, std::int32_t stream_id, Stream& stream, bool harmonic,
               std::int32_t rows, std::uint64_t columns) {
    constexpr std::uint64_t kBulkRow = 4096;
    const auto value = [](const char* p, int c) { return kWidth == 4 ? f32(p + 4 * c) : f64(p + 8 * c); };
    const std::uint64_t stride = columns * kWidth;
    const bool phased = columns >= 4;
    const auto phase = [&](const char* p) { return phased ? value(p, 3) : std::numeric_limits<double>::quiet_NaN(); };
    for (std::int32_t r = 0; r < rows;) {
      if (stride > kBulkRow) {
        char used[4 * kWidth];
        const std::uint64_t at = in_.offset();
        take(used, sizeof used, frame_start);
        skip(stride - sizeof used, frame_start);
        row<kPass>(at, time, stream_id, stream, harmonic, value(used, 0), value(used, 1), value(used, 2), phase(used));
        ++r;
        continue;
      }
      const std::string_view held = in_.available(static_cast<std::size_t>(stride));
      if (held.size() < stride) fail(frame_start, "the file ends inside the frame that starts here");
      // Every row left, when the buffer holds them (the usual case, without a division).
      const auto left = static_cast<std::uint64_t>(rows - r);
      const auto batch = static_cast<std::int32_t>(held.size() >= left * stride ? left : held.size() / stride);
      const std::uint64_t at = in_.offset();
      const char* p = held.data();
      for (std::int32_t i = 0; i < batch; ++i, p += stride)
        row<kPass>(at + static_cast<std::uint64_t>(i) * stride, time, stream_id, stream, harmonic, value(p, 0), value(p, 1),
                   value(p, 2), phase(p));
      in_.advance(static_cast<std::size_t>(static_cast<std::uint64_t>(batch) * stride));
      r += batch;
    }
  }

  template <Pass kPass>
  __attribute__((always_inline)) void row(std::uint64_t at, double time, std::int32_t stream_id, Stream& stream, bool harmonic,
                                          double index, double freq, double amp, double phase) {
    // Within 2^31, an index is whole when converting it to an integer loses nothing.
    if (!(std::fabs(index) < 2147483648.0) || static_cast<double>(static_cast<std::int32_t>(index)) != index ||
        !std::isfinite(freq) || !(amp >= 0) || amp == std::numeric_limits<double>::infinity())
      bad_row(at, index, freq, amp);
    const auto key = static_cast<long long>(index);
    const int next = static_cast<int>(kPass == Pass::kCount ? counted_.size() : kPass == Pass::kStore ? set_.partials.size() : filled_);
    int id = 0;
    Partial* part = nullptr;  // the partial the row goes to, in the passes that take rows
    switch (stream.indices.take(key, next, id)) {
      case IndexRule::Found::kTwice:
        twice(at, key, stream_id);
      case IndexRule::Found::kContinues:
        if constexpr (kPass == Pass::kCount) {
          if (!(time > counted_[static_cast<std::size_t>(id)].last_time)) not_rising(at, key, stream_id);
        } else {
          part = kPass == Pass::kStream ? order_->under_way(static_cast<std::size_t>(id)) : &set_.partials[static_cast<std::size_t>(id)];
          if (part == nullptr) changed();  // ended, by the first pass's count
          if (!follows(*part, time)) not_rising(at, key, stream_id);
        }
        break;
      case IndexRule::Found::kNew:
        if (kPass == Pass::kFill || kPass == Pass::kStream) {
          if (++filled_ > starts_.size()) changed();
          const auto p = static_cast<std::size_t>(id);
          if (kPass == Pass::kStream) {
            part = &order_->begin(p);
            part->place = starts_[p].place;
            part->origin = starts_[p].origin;
          } else {
            part = &set_.partials[p];
          }
          break;
        }
        if (stream_id != 0 || harmonic) set_.plain_origins = false;
        if (kPass == Pass::kStore) {
          set_.partials.emplace_back();
          set_.partials.back().place = static_cast<double>(at);
          set_.partials.back().origin = {stream_id, harmonic, key};
          part = &set_.partials.back();
          break;
        }
        starts_.push_back({static_cast<double>(at), {stream_id, harmonic, key}});
        counted_.push_back({0, time});
        break;
    }
    const auto p = static_cast<std::size_t>(id);
    if constexpr (kPass == Pass::kCount) {
      Counted& c = counted_[p];
      ++c.rows;
      c.last_time = time;
    } else {
      // A partial holds phases while every row of it has one that is a finite number (a
      // partial with a row without falls behind, and is taken as one without phases).
      if (std::isfinite(phase) && part->phase.size() == part->time.size()) part->phase.push_back(phase);
      add_breakpoint(*part, time, held_low_frequency(freq), amp);
      if (kPass == Pass::kStream) order_->added(p, *part);
    }
  }

  // The faults of rows, out of the way of the loop over them.
  [[noreturn]] __attribute__((noinline, cold)) void twice(std::uint64_t at, long long key, std::int32_t stream_id) const {
    fail(at, "index " + std::to_string(key) + " appears twice in one frame of stream " + std::to_string(stream_id));
  }
  [[noreturn]] __attribute__((noinline, cold)) void not_rising(std::uint64_t at, long long key, std::int32_t stream_id) const {
    fail(at, "the time of index " + std::to_string(key) + " of stream " + std::to_string(stream_id) + " does not rise");
  }
  [[noreturn]] __attribute__((noinline, cold)) void changed() const {
    throw Failure(compose(in_.name(), "the file changed while it was read"));
  }

  // What is wrong with a row whose figures cannot be taken.
  [[noreturn]] __attribute__((noinline, cold)) void bad_row(std::uint64_t at, double index, double freq, double amp) const {
    if (!std::isfinite(index) || index != std::floor(index)) fail(at, "index " + number(index) + " is not a whole number");
    if (!(std::fabs(index) < 2147483648.0)) {
      char whole[32];
      std::snprintf(whole, sizeof whole, std::fabs(index) < 1e15 ? "%.0f" : "%.9g", index);
      fail(at, "index " + std::string(whole) + " lies beyond the indices a track may have (-2147483647 to 2147483647)");
    }
    if (!std::isfinite(freq))
      fail(at, "the frequency of index " + std::to_string(static_cast<long long>(index)) + " is not a finite number");
    fail(at, "amplitude " + number(amp) + " of index " + std::to_string(static_cast<long long>(index)) +
                 " is negative or not finite");
  }

  // Where a partial starts, and what it is, as the first pass found it.
  struct Start {
    double place;
    Origin origin;
  };
  Input& in_;
  Pass pass_ = Pass::kStore;
  std::vector<Start> starts_;        // of each partial, found by the first pass
  // Each partial's rows and last time in the first pass, side by side (a row touches one place).
  struct Counted {
    std::size_t rows;
    double last_time;
  };
  std::vector<Counted> counted_;
  std::vector<std::size_t> counts_;  // rows of each partial, as the first pass counted them
  std::size_t filled_ = 0;           // partials met again by the second pass
  std::optional<InOrder> order_;     // handing on (kStream)
  PartialSet set_;
  std::unordered_map<std::int32_t, Stream> streams_;
  Stream* stream_ = nullptr;  // the stream of the last track frame (the map keeps it in place)
  std::int32_t stream_id_ = 0;
  TypeCounts frames_, passed_;  // frames by type; those passed over
};

}  // namespace

PartialSet read_sdif(Input& in) { return SdifReader(in).read(); }

PartialSet read_sdif_each(Input& in, PartialSet input, PartialSink& sink) { return SdifReader(in).read_each(std::move(input), sink); }

}  // namespace zarn

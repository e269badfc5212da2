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
#include <string>
#include <unordered_map>
#include <vector>

#include "model/failure.hpp"
#include "formats/frames.hpp"
#include "formats/index_rule.hpp"
#include "model/phase.hpp"

namespace zarn {

namespace {

constexpr std::uint32_t kFloat32 = 0x0004;
constexpr std::uint32_t kFloat64 = 0x0008;
constexpr std::uint32_t kText = 0x0301;
constexpr std::uint64_t kFrameHeaderAfterSize = 16;  // time, stream, matrix count
constexpr std::uint64_t kMatrixHeader = 16;

std::uint32_t be32(const char* p) {
  const auto* u = reinterpret_cast<const unsigned char*>(p);
  return (std::uint32_t{u[0]} << 24) | (std::uint32_t{u[1]} << 16) | (std::uint32_t{u[2]} << 8) | u[3];
}

std::uint64_t be64(const char* p) { return (std::uint64_t{be32(p)} << 32) | be32(p + 4); }

double f64(const char* p) {
  const std::uint64_t bits = be64(p);
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

double f32(const char* p) {
  const std::uint32_t bits = be32(p);
  float v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

std::int32_t i32(const char* p) { return static_cast<std::int32_t>(be32(p)); }

std::uint64_t padded8(std::uint64_t n) { return (n + 7) / 8 * 8; }

// A type signature as one number, for comparing and counting.
constexpr std::uint32_t signature(const char (&type)[5]) {
  return (std::uint32_t{static_cast<unsigned char>(type[0])} << 24) | (std::uint32_t{static_cast<unsigned char>(type[1])} << 16) |
         (std::uint32_t{static_cast<unsigned char>(type[2])} << 8) | std::uint32_t{static_cast<unsigned char>(type[3])};
}
constexpr std::uint32_t k1TRC = signature("1TRC"), k1HRM = signature("1HRM");

bool is_track(const char* type) {
  const std::uint32_t sig = be32(type);
  return sig == k1TRC || sig == k1HRM;
}

// Big-endian fields into a byte buffer, each word stored whole, so that no byte-by-byte
// building is read back as a word.
char* put32(char* p, std::uint32_t v) {
  const std::uint32_t big = detail::little_endian() ? __builtin_bswap32(v) : v;
  std::memcpy(p, &big, 4);
  return p + 4;
}

char* put64(char* p, std::uint64_t v) {
  const std::uint64_t big = detail::little_endian() ? __builtin_bswap64(v) : v;
  std::memcpy(p, &big, 8);
  return p + 8;
}

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
    pass_ = in_.can_rewind() ? Pass::kCount : Pass::kStore;
    walk();
    if (pass_ == Pass::kCount) {
      // The first pass kept no rows: an input that cannot be read again is a failure.
      if (!in_.rewind()) throw system_failure(in_.name(), errno, "cannot read it a second time");
      // What the second pass fills is held at its size, before the rows take their room.
      set_.partials.shrink_to_fit();
      std::vector<double>().swap(last_time_);
      for (std::size_t p = 0; p < set_.partials.size(); ++p) {
        Partial& part = set_.partials[p];
        part.time.reserve(counts_[p]);
        part.freq.reserve(counts_[p]);
        part.amp.reserve(counts_[p]);
      }
      pass_ = Pass::kFill;
      streams_.clear();
      stream_ = nullptr;
      walk();
      // Checked as the first pass was; what differs is a file changed in between.
      for (std::size_t p = 0; p < set_.partials.size(); ++p)
        if (p >= filled_ || static_cast<std::size_t>(set_.partials[p].M()) != counts_[p]) changed();
    }
    // What was seen, for --info and for a result with no partials.
    set_.about.push_back({"Streams", std::to_string(streams_.size()) + " with tracks"});
    set_.about.push_back({"Frames", frames_.text()});
    set_.about.push_back({"Passed over", passed_.text()});
    if (frames_.of(k1TRC) == 0 && frames_.of(k1HRM) == 0)
      set_.passed_over = "no 1TRC or 1HRM frames" + (passed_.empty() ? std::string() : "; " + passed_.text() + " frames passed over");
    else if (set_.partials.empty())
      set_.passed_over = "its 1TRC and 1HRM frames hold no rows";
    return std::move(set_);
  }

 private:
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
    if (pass_ != Pass::kFill) frames_.add(be32(h));
    if (!is_track(h)) {  // name-value tables, type declarations, markers: not tracks
      if (pass_ != Pass::kFill) passed_.add(be32(h));
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
      rows_of<4>(frame_start, time, stream_id, stream, harmonic, rows, n_columns);
    else
      rows_of<8>(frame_start, time, stream_id, stream, harmonic, rows, n_columns);
    skip(padded8(bytes) - bytes, frame_start);
  }

  // The rows of a matrix of kWidth-byte floats: the first three columns of each, the rest
  // passed over. Rows are taken in bulk from what the input holds; a row wider than
  // kBulkRow is taken on its own, so that no long row makes the input hold more.
  template <int kWidth>
  void rows_of(std::uint64_t frame_start, double time, std::int32_t stream_id, Stream& stream, bool harmonic,
               std::int32_t rows, std::uint64_t columns) {
    constexpr std::uint64_t kBulkRow = 4096;
    const auto value = [](const char* p, int c) { return kWidth == 4 ? f32(p + 4 * c) : f64(p + 8 * c); };
    const std::uint64_t stride = columns * kWidth;
    for (std::int32_t r = 0; r < rows;) {
      if (stride > kBulkRow) {
        char used[3 * kWidth];
        const std::uint64_t at = in_.offset();
        take(used, sizeof used, frame_start);
        skip(stride - sizeof used, frame_start);
        row(at, time, stream_id, stream, harmonic, value(used, 0), value(used, 1), value(used, 2));
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
        row(at + static_cast<std::uint64_t>(i) * stride, time, stream_id, stream, harmonic, value(p, 0), value(p, 1),
            value(p, 2));
      in_.advance(static_cast<std::size_t>(static_cast<std::uint64_t>(batch) * stride));
      r += batch;
    }
  }

  __attribute__((always_inline)) void row(std::uint64_t at, double time, std::int32_t stream_id, Stream& stream, bool harmonic,
                                          double index, double freq, double amp) {
    // Within 2^31, an index is whole when converting it to an integer loses nothing.
    if (!(std::fabs(index) < 2147483648.0) || static_cast<double>(static_cast<std::int32_t>(index)) != index ||
        !std::isfinite(freq) || !(amp >= 0) || amp == std::numeric_limits<double>::infinity())
      bad_row(at, index, freq, amp);
    const auto key = static_cast<long long>(index);
    const int next = pass_ == Pass::kFill ? static_cast<int>(filled_) : set_.P();
    int id = 0;
    switch (stream.indices.take(key, next, id)) {
      case IndexRule::Found::kTwice:
        twice(at, key, stream_id);
      case IndexRule::Found::kContinues:
        if (!(pass_ == Pass::kCount ? time > last_time_[static_cast<std::size_t>(id)]
                                    : follows(set_.partials[static_cast<std::size_t>(id)], time)))
          not_rising(at, key, stream_id);
        break;
      case IndexRule::Found::kNew:
        if (pass_ == Pass::kFill) {
          if (++filled_ > set_.partials.size()) changed();
          break;
        }
        set_.partials.emplace_back();
        set_.partials.back().place = static_cast<double>(at);
        set_.partials.back().origin = {stream_id, harmonic, key};
        if (pass_ == Pass::kCount) {
          counts_.push_back(0);
          last_time_.push_back(time);
        }
        break;
    }
    const auto p = static_cast<std::size_t>(id);
    if (pass_ == Pass::kCount) {
      ++counts_[p];
      last_time_[p] = time;
    } else {
      add_breakpoint(set_.partials[p], time, held_low_frequency(freq), amp);
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
    if (!(std::fabs(index) < 2147483648.0) || index != std::floor(index))
      fail(at, "index " + number(index) + " is not a whole number");
    if (!std::isfinite(freq))
      fail(at, "the frequency of index " + std::to_string(static_cast<long long>(index)) + " is not a finite number");
    fail(at, "amplitude " + number(amp) + " of index " + std::to_string(static_cast<long long>(index)) +
                 " is negative or not finite");
  }

  // The passes over the input: counting then filling, or storing in one.
  enum class Pass { kCount, kFill, kStore };

  Input& in_;
  Pass pass_ = Pass::kStore;
  std::vector<std::size_t> counts_;  // rows of each partial, counted by the first pass
  std::vector<double> last_time_;    // each partial's last time, in the first pass
  std::size_t filled_ = 0;           // partials met again by the second pass
  PartialSet set_;
  std::unordered_map<std::int32_t, Stream> streams_;
  Stream* stream_ = nullptr;  // the stream of the last track frame (the map keeps it in place)
  std::int32_t stream_id_ = 0;
  TypeCounts frames_, passed_;  // frames by type; those passed over
};

char* put_f32(char* p, double v) {
  const float f = static_cast<float>(v);
  std::uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  return put32(p, bits);
}

char* put_f64(char* p, double v) {
  std::uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  return put64(p, bits);
}

char* put_type(char* p, const char* type) {
  std::memcpy(p, type, 4);
  return p + 4;
}

// A frame header and the header of its one matrix; `data` is the matrix's padded size.
void frame_header(Output& out, const char* type, double time, std::uint32_t stream, const char* matrix_type,
                  std::uint32_t data_type, std::uint32_t rows, std::uint32_t columns, std::uint64_t data) {
  char* const h = out.room(40);
  char* p = put_type(h, type);
  p = put32(p, static_cast<std::uint32_t>(kFrameHeaderAfterSize + kMatrixHeader + data));
  p = put_f64(p, time);
  p = put32(p, stream);
  p = put32(p, 1);
  p = put_type(p, matrix_type);
  p = put32(p, data_type);
  p = put32(p, rows);
  out.filled(put32(p, columns));
}

// The track frames of a resampled set: one frame for each stream and track type present at a
// time, in the order the frame's rows first meet them (so that partials read back in their
// order). A partial keeps the stream and type it was read from; a harmonic partial keeps its
// harmonic number, and every other partial is numbered by its place in the set, from 1.
class TrackFrames {
 public:
  TrackFrames(Output& out, const ResampledSet& set) : out_(out), set_(set), phase_(set.partials.size(), 0.0) {}

  // The frames of one time.
  void write(double time, const std::vector<FrameRow>& rows) {
    // Most frames hold one stream and type: their rows go out as they are.
    const Key first = key_of(rows.front());
    if (std::all_of(rows.begin() + 1, rows.end(), [&](const FrameRow& r) { return key_of(r) == first; })) {
      write_of(time, first, rows.data(), rows.size());
      return;
    }
    keys_.clear();
    for (const FrameRow& r : rows)
      if (std::find(keys_.begin(), keys_.end(), key_of(r)) == keys_.end()) keys_.push_back(key_of(r));
    for (const Key& key : keys_) {
      group_.clear();
      for (const FrameRow& r : rows)
        if (key_of(r) == key) group_.push_back(r);
      write_of(time, key, group_.data(), group_.size());
    }
  }

 private:
  using Key = std::pair<int, bool>;  // stream, harmonic
  struct Written {
    long frame;
    int partial;
  };
  struct StreamFrames {
    long count = 0;
    double last_time = 0;
  };

  const Origin& origin_of(const FrameRow& r) const { return set_.partials[static_cast<std::size_t>(r.partial)].origin; }
  int stream_of(const FrameRow& r) const {
    const int moved = moved_to_.empty() ? -1 : moved_to_[static_cast<std::size_t>(r.partial)];
    return moved >= 0 ? moved : origin_of(r).stream;
  }
  Key key_of(const FrameRow& r) const { return {stream_of(r), origin_of(r).harmonic}; }

  void write_of(double time, const Key& key, const FrameRow* rows, std::size_t n) {
    if (key.second)
      write_harmonic(time, key.first, std::vector<FrameRow>(rows, rows + n));
    else
      write_rows(time, key, rows, n);
  }

  // One frame's rows of one stream and type, their phases carried on: the running phase of
  // every partial is the trapezoidal integration of 2 pi f over the grid, from 0 at the
  // partial's first point, kept wrapped to [-pi, pi).
  void write_rows(double time, const Key& key, const FrameRow* rows, std::size_t n) {
    constexpr std::uint32_t kColumns = 4;
    constexpr std::size_t kRowBytes = 16, kRowsAtOnce = 1024;
    const char* type = key.second ? "1HRM" : "1TRC";
    frame_header(out_, type, time, static_cast<std::uint32_t>(key.first), type, kFloat32, static_cast<std::uint32_t>(n),
                 kColumns, n * kColumns * 4);
    for (std::size_t done = 0; done < n;) {
      const std::size_t batch = std::min(n - done, kRowsAtOnce);
      char* p = out_.room(batch * kRowBytes);
      for (const FrameRow* r = rows + done; r != rows + done + batch; ++r) {
        const Resampled& part = set_.partials[static_cast<std::size_t>(r->partial)];
        const auto j = static_cast<std::size_t>(r->point);
        double& phi = phase_[static_cast<std::size_t>(r->partial)];
        if (j > 0) phi = next_phase(phi, part.time[j - 1], part.freq[j - 1], part.time[j], part.freq[j]);
        p = put_f32(p, part.origin.harmonic ? static_cast<double>(part.origin.index) : r->partial + 1);
        p = put_f32(p, part.freq[j]);
        p = put_f32(p, part.amp[j] > 0 ? part.amp[j] : 0.0);
        p = put_f32(p, phi);
      }
      out_.filled(p);
      done += batch;
    }
  }

  // Harmonic partials keep their harmonic numbers, so two of one number in one stream, with no
  // frame of the stream between them, would read back as one. An empty frame between them
  // (halfway in time) ends the first where no other partial of the stream goes on across it;
  // where one does, the later partial moves to a stream of its own, numbered after the set's.
  void write_harmonic(double time, int stream, const std::vector<FrameRow>& rows) {
    if (last_frame_.empty()) {
      last_frame_.assign(set_.partials.size(), -2);
      for (const Resampled& part : set_.partials) next_stream_ = std::max(next_stream_, part.origin.stream + 1);
    }
    StreamFrames& frames = harmonic_frames_[stream];
    std::vector<FrameRow> follow, others;  // rows that would continue another partial; the rest
    bool across = false;
    for (const FrameRow& r : rows) {
      const auto at = harmonic_rows_.find({stream, origin_of(r).index});
      if (at != harmonic_rows_.end() && at->second.frame == frames.count - 1 && at->second.partial != r.partial) {
        follow.push_back(r);
      } else {
        others.push_back(r);
        across = across || last_frame_[static_cast<std::size_t>(r.partial)] == frames.count - 1;
      }
    }
    if (!follow.empty() && across) {
      if (moved_to_.empty()) moved_to_.assign(set_.partials.size(), -1);
      const int to = next_stream_++;
      for (const FrameRow& r : follow) moved_to_[static_cast<std::size_t>(r.partial)] = to;
      if (!others.empty()) write_harmonic(time, stream, others);
      write_harmonic(time, to, follow);
      return;
    }
    if (!follow.empty()) {
      write_rows(0.5 * (frames.last_time + time), {stream, true}, rows.data(), 0);
      ++frames.count;
    }
    for (const FrameRow& r : rows) {
      harmonic_rows_[{stream, origin_of(r).index}] = {frames.count, r.partial};
      last_frame_[static_cast<std::size_t>(r.partial)] = frames.count;
    }
    write_rows(time, {stream, true}, rows.data(), rows.size());
    ++frames.count;
    frames.last_time = time;
  }

  Output& out_;
  const ResampledSet& set_;
  std::vector<double> phase_;
  std::vector<Key> keys_;
  std::vector<FrameRow> group_;
  std::map<std::pair<int, long long>, Written> harmonic_rows_;  // by stream and harmonic number
  std::map<int, StreamFrames> harmonic_frames_;                // by stream
  std::vector<long> last_frame_;                               // of each partial, in its stream
  std::vector<int> moved_to_;  // the stream a harmonic partial moved to, by partial; empty while none has
  int next_stream_ = 0;
};

// Indices are written as 32-bit floats, which hold every whole number up to 2^24 exactly.
constexpr int kMaxIndex = 1 << 24;

}  // namespace

PartialSet read_sdif(Input& in) { return SdifReader(in).read(); }

namespace {

// The file's header and its name-value table.
void write_sdif_start(Output& out, std::string_view written_by) {
  char header[16];
  put32(put32(put32(put_type(header, "SDIF"), 8), 3), 1);
  out.put(std::string_view(header, sizeof header));

  const std::string table = "WrittenBy\t" + std::string(written_by) + "\n";
  frame_header(out, "1NVT", -std::numeric_limits<double>::infinity(), 0, "1NVT", kText,
               static_cast<std::uint32_t>(table.size()), 1, padded8(table.size()));
  out.put(table);
  out.put(std::string_view("\0\0\0\0\0\0\0", padded8(table.size()) - table.size()));
}

}  // namespace

void write_sdif(Output& out, const ResampledSet& set, std::string_view written_by) {
  if (set.P() > kMaxIndex)
    throw failure("SDIF holds partial numbers as 32-bit floats, exact only up to " + std::to_string(kMaxIndex) + " partials");
  write_sdif_start(out, written_by);

  // The fundamental, where there is one, as 1FQ0 frames (frequency and confidence) in a stream
  // after every stream the tracks may take, each before the track frames of its time.
  const Fundamental& f0 = set.fundamental;
  int last_stream = 0;
  for (const Resampled& part : set.partials) last_stream = std::max(last_stream, part.origin.stream);
  const auto f0_stream = static_cast<std::uint32_t>(last_stream) + static_cast<std::uint32_t>(set.P()) + 1;
  std::size_t f0_next = 0;
  const auto fundamental_until = [&](double time) {
    for (; f0_next < f0.time.size() && f0.time[f0_next] <= time; ++f0_next) {
      frame_header(out, "1FQ0", f0.time[f0_next], f0_stream, "1FQ0", kFloat32, 1, 2, 8);
      char* p = out.room(8);
      out.filled(put_f32(put_f32(p, f0.freq[f0_next]), f0.confidence[f0_next]));
    }
  };
  TrackFrames frames(out, set);
  for_each_frame(set, [&](double time, const std::vector<FrameRow>& rows) {
    fundamental_until(time);
    frames.write(time, rows);
  });
  fundamental_until(std::numeric_limits<double>::infinity());
}

namespace {
const FigureRule kSdifFigures{"an SDIF file", true, false};
}  // namespace

void check_sdif_figures(const ResampledSet& set) { check_figures(set, kSdifFigures); }
void check_sdif_partial(const Resampled& part, std::size_t p) { check_partial_figures(part, p, kSdifFigures); }

void SdifFrameStream::take(const Resampled& part) {
  const std::size_t n = part.time.size();
  laid_.push_back({part.first_k, static_cast<int>(n), 0});
  if (n == 0) return;
  points_.resize(2 * n);
  for (std::size_t j = 0; j < n; ++j) points_[2 * j] = part.freq[j], points_[2 * j + 1] = part.amp[j];
  laid_.back().at = spool_.append(points_.data(), points_.size());
}

void SdifFrameStream::write(Output& out) {
  if (laid_.size() > static_cast<std::size_t>(kMaxIndex))
    throw failure("SDIF holds partial numbers as 32-bit floats, exact only up to " + std::to_string(kMaxIndex) + " partials");
  write_sdif_start(out, written_by_);
  // Partials with points by first time, then by place, as write_sdif meets them: on the aligned
  // grid a first time is its k times the step, which rises with k.
  std::vector<int> order;
  for (std::size_t p = 0; p < laid_.size(); ++p)
    if (laid_[p].points > 0) order.push_back(static_cast<int>(p));
  std::sort(order.begin(), order.end(), [&](int a, int b) {
    const long long ka = laid_[static_cast<std::size_t>(a)].first_k, kb = laid_[static_cast<std::size_t>(b)].first_k;
    return ka < kb || (ka == kb && a < b);
  });
  // The partials under way, in that order: each at its next point, a few of its points read
  // ahead from the spool. On the aligned grid every one of them has a point in every frame.
  constexpr std::size_t kAhead = 64;
  struct UnderWay {
    int partial;
    int point;
    double phase, freq;  // at the point before
    std::size_t read;    // of `ahead`, the next
    std::vector<double> ahead;
  };
  std::vector<UnderWay> under_way;
  constexpr std::uint32_t kColumns = 4;
  constexpr std::size_t kRowBytes = 16;
  for (std::size_t started = 0; started < order.size() || !under_way.empty();) {
    const long long k = under_way.empty() ? laid_[static_cast<std::size_t>(order[started])].first_k
                                          : laid_[static_cast<std::size_t>(under_way.front().partial)].first_k + under_way.front().point;
    for (; started < order.size() && laid_[static_cast<std::size_t>(order[started])].first_k == k; ++started)
      under_way.push_back({order[started], 0, 0.0, 0.0, 0, {}});
    const double time = static_cast<double>(k) * step_;
    frame_header(out, "1TRC", time, 0, "1TRC", kFloat32, static_cast<std::uint32_t>(under_way.size()), kColumns, under_way.size() * kColumns * 4);
    std::size_t kept = 0;
    for (std::size_t i = 0; i < under_way.size(); ++i) {
      UnderWay& u = under_way[i];
      const Laid& laid = laid_[static_cast<std::size_t>(u.partial)];
      if (u.read == u.ahead.size()) {
        const std::size_t count = std::min<std::size_t>(kAhead, static_cast<std::size_t>(laid.points - u.point));
        u.ahead.resize(2 * count);
        spool_.read(laid.at + 2 * static_cast<std::uint64_t>(u.point), u.ahead.data(), u.ahead.size());
        u.read = 0;
      }
      const double freq = u.ahead[u.read], amp = u.ahead[u.read + 1];
      u.read += 2;
      // The running phase, as write_sdif carries it, over grid times laid as the fit laid them.
      if (u.point > 0)
        u.phase = next_phase(u.phase, static_cast<double>(laid.first_k + u.point - 1) * step_, u.freq,
                             static_cast<double>(laid.first_k + u.point) * step_, freq);
      char* p = out.room(kRowBytes);
      p = put_f32(p, u.partial + 1);
      p = put_f32(p, freq);
      p = put_f32(p, amp > 0 ? amp : 0.0);
      out.filled(put_f32(p, u.phase));
      u.freq = freq;
      if (++u.point < laid.points) {
        if (kept != i) under_way[kept] = std::move(u);
        ++kept;
      }
    }
    under_way.resize(kept);
  }
}

}  // namespace zarn

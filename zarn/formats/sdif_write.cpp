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

#include "formats/frames.hpp"
#include "formats/index_rule.hpp"
#include "model/failure.hpp"
#include "formats/sdif_bytes.hpp"
#include "model/phase.hpp"

namespace zarn {

namespace {

using namespace detail::sdif;

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

  // One frame's rows of one stream and type, with their phases: a partial's own, where it holds
  // them; else the running phase, the trapezoidal integration of 2 pi f over the grid, from 0 at
  // the partial's first point, kept wrapped to [-pi, pi).
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
        if (part.phase.size() == part.time.size())
          phi = part.phase[j];
        else if (j > 0)
          phi = next_phase(phi, part.time[j - 1], part.freq[j - 1], part.time[j], part.freq[j]);
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

}  // namespace

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
  const bool phased = n > 0 && part.phase.size() == n;
  laid_.push_back({part.first_k, static_cast<int>(n), 0, phased});
  if (n == 0) return;
  const std::size_t width = phased ? 3 : 2;
  points_.resize(width * n);
  for (std::size_t j = 0; j < n; ++j) {
    points_[width * j] = part.freq[j], points_[width * j + 1] = part.amp[j];
    if (phased) points_[width * j + 2] = part.phase[j];
  }
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
      const std::size_t width = laid.phased ? 3 : 2;
      if (u.read == u.ahead.size()) {
        const std::size_t count = std::min<std::size_t>(kAhead, static_cast<std::size_t>(laid.points - u.point));
        u.ahead.resize(width * count);
        spool_.read(laid.at + width * static_cast<std::uint64_t>(u.point), u.ahead.data(), u.ahead.size());
        u.read = 0;
      }
      const double freq = u.ahead[u.read], amp = u.ahead[u.read + 1];
      // The partial's own phase, or the running phase, as write_sdif carries it, over grid
      // times laid as the fit laid them.
      if (laid.phased)
        u.phase = u.ahead[u.read + 2];
      else if (u.point > 0)
        u.phase = next_phase(u.phase, static_cast<double>(laid.first_k + u.point - 1) * step_, u.freq,
                             static_cast<double>(laid.first_k + u.point) * step_, freq);
      u.read += width;
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


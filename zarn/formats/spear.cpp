#include "formats/spear.hpp"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "model/failure.hpp"
#include "formats/frames.hpp"
#include "formats/index_rule.hpp"

namespace zarn {

namespace {

// What the reader expects at a position; spelt out only when a message needs it.
struct Where {
  const char* what;  // "the time", "the number of points", ...
  int item = 0;      // partial or frame, 1-based; 0 for the header
  int point = 0;     // 1-based; 0 when not within a list of points
  bool frames = false;
  std::string_view index = {};  // a partial's index as the file gives it, once read
};

// "1st", "2nd", "3rd", "4th", ..., "11th", ..., "21st".
std::string ordinal(int n) {
  const int last = n % 10, tens = n % 100;
  const char* suffix = tens >= 11 && tens <= 13 ? "th" : last == 1 ? "st" : last == 2 ? "nd" : last == 3 ? "rd" : "th";
  return std::to_string(n) + suffix;
}

// A partial is named by the index that its file gives it; before that is read, by its place.
std::string describe(const Where& w) {
  std::string d = w.what;
  if (w.point > 0) d += " of point " + std::to_string(w.point);
  if (w.item > 0 && w.frames) d += " of frame " + std::to_string(w.item);
  if (w.item > 0 && !w.frames)
    d += w.index.empty() ? " of the " + ordinal(w.item) + " partial" : " of partial " + std::string(w.index);
  return d;
}

class SpearReader {
 public:
  explicit SpearReader(Input& in) : in_(in), r_(in, describe) {}

  PartialSet read() {
    const Token format = take({"the format line"});
    const bool frames = format.text == kSpearFramesLine;
    if (!frames && format.text != kSpearPartialsLine)
      fail(format.line, "expected " + quote(kSpearPartialsLine) + " or " + quote(kSpearFramesLine) + ", found " + quote(format.text));
    word("point-type");
    for (const char* column : {frames ? "index" : "time", "frequency", "amplitude"}) word(column);
    word("partials-count");
    const int partials = count({"the number of partials"});
    if (frames) {
      word("frame-count");
      const int frame_count = count({"the number of frames"});
      word("frame-data");
      for (int f = 1; f <= frame_count; ++f) frame(f);
    } else {
      word("partials-data");
      set_.partials.reserve(in_.reservable(static_cast<std::uint64_t>(partials), 8));  // "0 0 0 0\n\n" at least
      for (int p = 1; p <= partials; ++p) partial(p);
    }
    Token extra;
    if (in_.next(extra)) fail(extra.line, "expected the end of the file, found " + quote(extra.text));
    return std::move(set_);
  }

 private:
  [[noreturn]] void fail(long line, const std::string& what) const { r_.fail(line, what); }
  Token take(const Where& w) { return r_.take(w); }
  int count(const Where& w) { return r_.count(w); }
  double number(const Where& w, Token& t) { return r_.number(w, t); }

  void word(const char* expected) {
    const Token t = take({expected});
    if (t.text != expected) fail(t.line, "expected " + quote(expected) + ", found " + quote(t.text));
  }


  // A point's frequency, held within the range, and its amplitude, which must be usable.
  void point(Partial& part, double time, Where w) {
    Token t;
    w.what = "the frequency";
    const double freq = number(w, t);
    if (!std::isfinite(freq)) fail(t.line, quote(t.text) + " is not a finite number, for " + describe(w));
    w.what = "the amplitude";
    const double amp = number(w, t);
    if (!std::isfinite(amp) || amp < 0) fail(t.line, quote(t.text) + " is negative or not finite, for " + describe(w));
    add_breakpoint(part, time, held_low_frequency(freq), amp);
  }

  void partial(int p) {
    // The index carries no meaning for the partials themselves; messages name it.
    const Token index = take({"the index", p});
    constexpr std::size_t kLongestIndex = 24;
    const std::string name(index.text.substr(0, kLongestIndex));
    const long line = index.line;
    const int points = count({"the number of points", p, 0, false, name});
    Token t;
    number({"the start time", p, 0, false, name}, t);  // the first and last times are given again below
    number({"the end time", p, 0, false, name}, t);
    set_.partials.emplace_back();
    Partial& part = set_.partials.back();
    part.place = static_cast<double>(line);
    for (int i = 1; i <= points; ++i) {
      const Where w{"the time", p, i, false, name};
      const double time = number(w, t);
      if (!std::isfinite(time)) fail(t.line, quote(t.text) + " is not a finite time, for " + describe(w));
      if (!follows(part, time)) fail(t.line, quote(t.text) + " is not later than the time before it, for " + describe(w));
      point(part, time, w);
    }
  }

  void frame(int f) {
    Token t;
    const Where head{"the time", f, 0, true};
    const double time = number(head, t);
    if (!std::isfinite(time)) fail(t.line, quote(t.text) + " is not a finite time, for " + describe(head));
    if (f > 1 && time < last_time_) fail(t.line, quote(t.text) + " goes back in time, for " + describe(head));
    last_time_ = time;
    const int points = count({"the number of points", f, 0, true});
    indices_.next_frame();
    for (int i = 1; i <= points; ++i) {
      const Where w{"the index", f, i, true};
      Token index_token;
      const int index = r_.count(w, index_token);
      const long line = index_token.line;
      int id = 0;
      switch (indices_.take(index, set_.P(), id)) {
        case IndexRule::Found::kTwice:
          fail(line, "index " + std::to_string(index) + " appears twice, in " + describe(w));
        case IndexRule::Found::kContinues:
          if (!follows(set_.partials[static_cast<std::size_t>(id)], time))
            fail(line, "the time of index " + std::to_string(index) + " does not rise, in " + describe(w));
          break;
        case IndexRule::Found::kNew:
          set_.partials.emplace_back();
          set_.partials.back().place = static_cast<double>(line);
          break;
      }
      point(set_.partials[static_cast<std::size_t>(id)], time, w);
    }
  }

  Input& in_;
  TokenReader<Where> r_;
  PartialSet set_;
  double last_time_ = 0;
  IndexRule indices_;
};

// The number each partial with points gets in the text exports: 0, 1, ... in set order.
std::vector<int> export_numbers(const ResampledSet& set, int& written) {
  std::vector<int> numbers(set.partials.size(), -1);
  written = 0;
  for (std::size_t p = 0; p < set.partials.size(); ++p)
    if (set.partials[p].N() > 0) numbers[p] = written++;
  return numbers;
}

// A point's frequency and amplitude, as the exports give them: amplitudes that the spline
// took below zero are written as 0.
void put_point(Output& out, const Resampled& part, std::size_t j) {
  out.put_fixed(part.freq[j], 6);
  out.put(' ');
  out.put_fixed(part.amp[j] > 0 ? part.amp[j] : 0.0, 6);
}

}  // namespace

PartialSet read_spear(Input& in) { return SpearReader(in).read(); }

void write_spear_partials(Output& out, const ResampledSet& set) {
  int written = 0;
  export_numbers(set, written);
  out.put(kSpearPartialsLine);
  out.put("\npoint-type time frequency amplitude\npartials-count ");
  out.put_int(written);
  out.put("\npartials-data\n");
  int number = 0;
  for (const Resampled& part : set.partials) {
    if (part.N() == 0) continue;
    out.put_int(number++);
    out.put(' ');
    out.put_int(part.N());
    out.put(' ');
    out.put_fixed(part.time.front(), 6);
    out.put(' ');
    out.put_fixed(part.time.back(), 6);
    out.put('\n');
    for (std::size_t j = 0; j < part.time.size(); ++j) {
      if (j > 0) out.put(' ');
      out.put_fixed(part.time[j], 6);
      out.put(' ');
      put_point(out, part, j);
    }
    out.put('\n');
  }
}

void write_spear_frames(Output& out, const ResampledSet& set) {
  int written = 0;
  const std::vector<int> numbers = export_numbers(set, written);
  out.put(kSpearFramesLine);
  out.put("\npoint-type index frequency amplitude\npartials-count ");
  out.put_int(written);
  out.put("\nframe-count ");
  out.put_int(count_frames(set));
  out.put("\nframe-data\n");
  for_each_frame(set, [&](double time, const std::vector<FrameRow>& rows) {
    out.put_fixed(time, 6);
    out.put(' ');
    out.put_int(static_cast<long>(rows.size()));
    for (const FrameRow& r : rows) {
      out.put(' ');
      out.put_int(numbers[static_cast<std::size_t>(r.partial)]);
      out.put(' ');
      put_point(out, set.partials[static_cast<std::size_t>(r.partial)], static_cast<std::size_t>(r.point));
    }
    out.put('\n');
  });
}

}  // namespace zarn

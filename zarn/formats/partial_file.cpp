#include "formats/partial_file.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>

#include "model/failure.hpp"

namespace zarn {

namespace {

// Fewest bytes that a breakpoint (three tokens and their separators) and a partial (header
// and closer) take in a file, for reserving no more than the file could hold.
constexpr std::uint64_t kMinBreakpointBytes = 6;
constexpr std::uint64_t kMinPartialBytes = 8;

// What the reader expects at a position; spelt out only when a message needs it.
enum class Item { kListHeader, kPartialCount, kPartialHeader, kPointCount, kTime, kFrequency, kLevel, kPartialCloser, kListCloser };

struct Place {
  Item item;
  int partial = 0;     // 1-based
  int breakpoint = 0;  // 1-based; for closers, the count they close
};

std::string describe(const Place& at) {
  const std::string partial = "partial " + std::to_string(at.partial);
  const std::string of = " of breakpoint " + std::to_string(at.breakpoint) + " of " + partial;
  switch (at.item) {
    case Item::kListHeader: return "the list header";
    case Item::kPartialCount: return "the number of partials";
    case Item::kPartialHeader: return "the header of " + partial;
    case Item::kPointCount: return "the number of breakpoints of " + partial;
    case Item::kTime: return "the time" + of;
    case Item::kFrequency: return "the frequency" + of;
    case Item::kLevel: return "the level" + of;
    case Item::kPartialCloser:
      return "the \")\" closing " + partial + " after its " + std::to_string(at.breakpoint) + " breakpoints";
    case Item::kListCloser: return "the \")\" closing the list of " + std::to_string(at.breakpoint) + " partials";
  }
  return {};
}

using Reader = TokenReader<Place>;

// The ")" that closes a partial or the list.
void closer(Reader& r, const Place& at) {
  const Token t = r.take(at);
  if (t.text != ")") r.fail(t.line, "expected " + describe(at) + ", found " + quote(t.text));
}

void read_partial(Reader& r, Input& in, LevelTable& levels, Partial& part, int p) {
  // The header's first two tokens, "(" and "POINTS", are not compared.
  part.place = static_cast<double>(r.take({Item::kPartialHeader, p}).line);
  r.take({Item::kPartialHeader, p});
  const int M = r.count({Item::kPointCount, p});
  const std::size_t cap = in.reservable(static_cast<std::uint64_t>(M), kMinBreakpointBytes);
  part.time.reserve(cap);
  part.freq.reserve(cap);
  part.amp.reserve(cap);
  Token t;
  for (int i = 1; i <= M; ++i) {
    // A row as this program writes them, read whole where nothing in it needs a message;
    // anything else, token by token.
    double row[3];
    if (in.peek_fixed_row(row) && follows(part, row[0])) {
      const double amp = levels.amp(row[2]);
      if (std::isfinite(amp)) {
        in.take_fixed_row();
        add_breakpoint(part, row[0], held_frequency(row[1]), amp);
        continue;
      }
    }
    const double time = r.number({Item::kTime, p, i}, t);
    if (!std::isfinite(time)) r.fail(t.line, quote(t.text) + " is not a finite time, for " + describe({Item::kTime, p, i}));
    if (!follows(part, time))
      r.fail(t.line, quote(t.text) + " is not later than the time before it, for " + describe({Item::kTime, p, i}));
    double freq = r.number({Item::kFrequency, p, i}, t);
    if (std::isnan(freq)) r.fail(t.line, quote(t.text) + " is not a number, for " + describe({Item::kFrequency, p, i}));
    freq = held_frequency(freq);
    const double amp = levels.amp(r.number({Item::kLevel, p, i}, t));
    if (!std::isfinite(amp))
      r.fail(t.line, quote(t.text) + " is a level whose amplitude is not a finite number, for " + describe({Item::kLevel, p, i}));
    add_breakpoint(part, time, freq, amp);
  }
  closer(r, {Item::kPartialCloser, p, M});
}

}  // namespace

PartialSet read_partials(Input& in) {
  PartialSet set;
  read_partials_each(
      in, [&](int P) { set.partials.reserve(in.reservable(static_cast<std::uint64_t>(P), kMinPartialBytes)); },
      [&](Partial& part, int) { set.partials.push_back(std::move(part)); });
  return set;
}

void read_partials_each(Input& in, const std::function<void(int count)>& count, const std::function<void(Partial& part, int p)>& each) {
  Reader r(in, describe);
  r.take({Item::kListHeader});
  r.take({Item::kListHeader});
  const int P = r.count({Item::kPartialCount});
  count(P);
  LevelTable levels;
  Partial part;
  for (int p = 1; p <= P; ++p) {
    part.time.clear(), part.freq.clear(), part.amp.clear();
    read_partial(r, in, levels, part, p);
    each(part, p - 1);
  }
  closer(r, {Item::kListCloser, 0, P});
}

namespace {

// "%9.3f" of the figure narrowed to single precision.
inline void put_figure(Output& out, double v) { out.put_fixed(static_cast<double>(static_cast<float>(v)), 3, 9); }

}  // namespace

namespace {
const FigureRule kListFigures{"a partial list", true, true};
}  // namespace

void check_list_figures(const ResampledSet& set) { check_figures(set, kListFigures); }
void check_list_partial(const Resampled& part, std::size_t p) { check_partial_figures(part, p, kListFigures); }

bool repeated_time(const Resampled& part, std::size_t p, RepeatedTime& found) {
  // Two figures written with three decimals differ when their values are more than 0.001
  // apart (each is off by 0.0005 at most); only closer neighbours need to be formatted.
  constexpr double kSurelyApart = 0.0011;
  char a[kMaxFixedChars], b[kMaxFixedChars];
  const std::vector<double>& t = part.time;
  for (std::size_t k = 1; k < t.size(); ++k) {
    const double before = static_cast<float>(t[k - 1]);
    const double now = static_cast<float>(t[k]);
    if (now - before > kSurelyApart) continue;
    const std::string_view x(a, static_cast<std::size_t>(format_fixed(a, before, 3) - a));
    const std::string_view y(b, static_cast<std::size_t>(format_fixed(b, now, 3) - b));
    if (x == y) {
      found.partial = static_cast<int>(p) + 1;
      found.time = now;
      return true;
    }
  }
  return false;
}

bool first_repeated_time(const ResampledSet& set, RepeatedTime& found) {
  for (std::size_t p = 0; p < set.partials.size(); ++p)
    if (repeated_time(set.partials[p], p, found)) return true;
  return false;
}

void write_list_start(Output& out, int count) {
  out.put("( PARTIALS\t");
  out.put_int(count);
  out.put('\n');
}

void write_list_partial(Output& out, const Resampled& part) {
  out.put("( POINTS\t");
  out.put_int(part.N());
  out.put('\n');
  for (std::size_t k = 0; k < part.time.size(); ++k) {
    put_figure(out, part.time[k]);
    out.put('\t');
    put_figure(out, part.freq[k]);
    out.put('\t');
    put_figure(out, amp2db(part.amp[k]));
    out.put('\n');
  }
  out.put(")\n");
}

void write_list_end(Output& out) { out.put(")\n"); }

void write_partials(Output& out, const ResampledSet& set) {
  write_list_start(out, set.P());
  for (const Resampled& part : set.partials) write_list_partial(out, part);
  write_list_end(out);
}

}  // namespace zarn

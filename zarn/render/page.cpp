#include "render/page.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <numeric>
#include <vector>

namespace zarn {

// The page's script, embedded from page.js when the tool is built.
extern const char kPageScript[];

bool is_page_name(std::string_view name) {
  if (name.size() < 5) return false;
  std::string ending(name.substr(name.size() - 5));
  for (char& c : ending) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ending == ".html";
}

std::string shell_quote(std::string_view text) {
  const bool plain = !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || std::strchr("@%+=:,./_-", c) != nullptr;
  });
  if (plain) return std::string(text);
  std::string q = "'";
  for (char c : text) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

namespace detail {

std::string base64(const unsigned char* bytes, std::size_t n) {
  static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string s;
  s.reserve((n + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= n; i += 3) {
    const std::uint32_t v = static_cast<std::uint32_t>(bytes[i]) << 16 | static_cast<std::uint32_t>(bytes[i + 1]) << 8 | bytes[i + 2];
    s += kDigits[v >> 18], s += kDigits[v >> 12 & 63], s += kDigits[v >> 6 & 63], s += kDigits[v & 63];
  }
  if (i < n) {
    const std::uint32_t v = static_cast<std::uint32_t>(bytes[i]) << 16 | (i + 1 < n ? static_cast<std::uint32_t>(bytes[i + 1]) << 8 : 0);
    s += kDigits[v >> 18], s += kDigits[v >> 12 & 63];
    s += i + 1 < n ? kDigits[v >> 6 & 63] : '=';
    s += '=';
  }
  return s;
}

std::string json_string(std::string_view text) {
  std::string j = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      j += '\\', j += static_cast<char>(c), ++i;
    } else if (c < 0x20 || c == '<' || c == 0x7f) {
      char e[8];
      std::snprintf(e, sizeof e, "\\u%04x", c);
      j += e, ++i;
    } else if (c < 0x80) {
      j += static_cast<char>(c), ++i;
    } else if (const std::size_t length = utf8_length(text.substr(i)); length > 0) {
      j.append(text.substr(i, length)), i += length;
    } else {
      j += "\\ufffd", ++i;
    }
  }
  return j + "\"";
}


namespace {

// Bits written lowest first, as the page's script reads them.
class BitWriter {
 public:
  explicit BitWriter(std::vector<unsigned char>& out) : out_(out) {}
  void put(std::uint64_t v, int n) {
    for (int i = 0; i < n; ++i) {
      if (used_ == 0) out_.push_back(0);
      out_.back() = static_cast<unsigned char>(out_.back() | ((v >> i) & 1) << used_);
      used_ = (used_ + 1) & 7;
    }
  }
  // v as Rice code of parameter k: v >> k in ones and a zero, then k bits; from 24 ones on,
  // 24 ones and v in 48 bits.
  void rice(std::uint64_t v, int k) {
    const std::uint64_t q = v >> k;
    if (q < static_cast<std::uint64_t>(kEscape)) {
      for (std::uint64_t i = 0; i < q; ++i) put(1, 1);
      put(0, 1);
      put(v, k);
    } else {
      put((1u << kEscape) - 1, kEscape);
      put(v, 48);
    }
  }
  static int length(std::uint64_t v, int k) {
    return (v >> k) < static_cast<std::uint64_t>(kEscape) ? static_cast<int>(v >> k) + 1 + k : kEscape + 48;
  }
  static constexpr int kEscape = 24;

 private:
  std::vector<unsigned char>& out_;
  int used_ = 0;
};

std::uint64_t zigzag(long long v) { return v >= 0 ? static_cast<std::uint64_t>(v) * 2 : static_cast<std::uint64_t>(-(v + 1)) * 2 + 1; }

// The Rice parameter that codes the values in the fewest bits, among those within two of the
// one their mean suggests (the best for geometric values lies there).
int best_parameter(const std::vector<std::uint64_t>& values) {
  double mean = 0;
  for (std::uint64_t v : values) mean += static_cast<double>(v);
  mean /= static_cast<double>(std::max<std::size_t>(values.size(), 1));
  const int guess = mean >= 1 ? static_cast<int>(std::log2(mean)) : 0;
  int best = 0;
  double fewest = INFINITY;
  for (int k = std::max(0, guess - 2); k <= std::min(40, guess + 2); ++k) {
    double bits = 0;
    for (std::uint64_t v : values) bits += BitWriter::length(v, k);
    if (bits < fewest) fewest = bits, best = k;
  }
  return best;
}

// Packs one partial into `packed`'s bits; false, having written nothing, where a value cannot be.
bool pack_partial(const Partial& part, Packed& packed, double head[6], unsigned char rice[3]) {
  const std::size_t M = part.time.size();
  constexpr double kMost = 140737488355328.0;  // 2^47: every whole number of units within it is exact
  for (std::size_t j = 0; j < M; ++j)
    if (!std::isfinite(part.time[j]) || !(part.freq[j] > 0) || !std::isfinite(part.freq[j]) || !(part.amp[j] >= 0) || !std::isfinite(part.amp[j]))
      return false;
  const double first = part.time[0], last = part.time[M - 1];
  std::vector<std::uint64_t> steps, tv, fv, lv;
  long long before = 0;
  for (std::size_t j = 1; j + 1 < M; ++j) {
    const double units = std::round((part.time[j] - first) / kTimeUnit);
    if (!(units < kMost)) return false;
    const auto u = static_cast<long long>(units);
    // The times as the script makes them again must still rise, to below the last.
    if (u <= before || !(first + static_cast<double>(u) * kTimeUnit > first + static_cast<double>(before) * kTimeUnit)) return false;
    steps.push_back(static_cast<std::uint64_t>(u - before));
    before = u;
  }
  if (M > 2 && !(first + static_cast<double>(before) * kTimeUnit < last)) return false;
  std::uint64_t least = steps.empty() ? 0 : *std::min_element(steps.begin(), steps.end()), divisor = 0;
  for (std::uint64_t s : steps) divisor = std::gcd(divisor, s - least);
  if (divisor == 0) divisor = 1;
  for (std::uint64_t s : steps) tv.push_back((s - least) / divisor);
  long long q_before = 0, l_before = 0, l_first = 0;
  bool sounded = false;
  for (std::size_t j = 0; j < M; ++j) {
    const auto q = static_cast<long long>(std::llround(std::log2(part.freq[j]) * kCentUnits));
    if (j == 0) head[2] = static_cast<double>(q); else fv.push_back(zigzag(q - q_before));
    q_before = q;
    if (part.amp[j] == 0) {
      lv.push_back(0);
      continue;
    }
    const auto l = static_cast<long long>(std::llround(amp2db(part.amp[j]) * kDbUnits));
    if (!sounded) l_first = l_before = l, sounded = true;
    lv.push_back(zigzag(l - l_before) + 1);
    l_before = l;
  }
  head[0] = first, head[1] = last, head[3] = static_cast<double>(l_first), head[4] = static_cast<double>(least), head[5] = static_cast<double>(divisor);
  rice[0] = static_cast<unsigned char>(best_parameter(tv));
  rice[1] = static_cast<unsigned char>(best_parameter(fv));
  rice[2] = static_cast<unsigned char>(best_parameter(lv));
  BitWriter bits(packed.bits);
  for (std::uint64_t v : tv) bits.rice(v, rice[0]);
  for (std::uint64_t v : fv) bits.rice(v, rice[1]);
  for (std::uint64_t v : lv) bits.rice(v, rice[2]);
  return true;
}

}  // namespace

namespace {

// Reads bits lowest first from a byte, as the page's script does.
struct BitReader {
  const std::vector<unsigned char>& bits;
  std::size_t at;
  double bits_of(int n) {
    double v = 0, scale = 1;
    for (int i = 0; i < n; ++i, scale *= 2, ++at) v += ((bits[at >> 3] >> (at & 7)) & 1) * scale;
    return v;
  }
  double rice(int k) {
    int q = 0;
    while (q < BitWriter::kEscape && bits_of(1) == 1) ++q;
    return q < BitWriter::kEscape ? q * std::pow(2.0, k) + bits_of(k) : bits_of(48);
  }
  static double unzig(double v) { return std::fmod(v, 2.0) == 0 ? v / 2 : -(v + 1) / 2; }
};

}  // namespace

Partial unpack(const Packed& packed, std::size_t p, std::size_t byte) {
  Partial part;
  const std::size_t M = packed.count[p];
  const double* h = &packed.head[6 * p];
  const unsigned char* k = &packed.rice[4 * p];
  part.time.resize(M), part.freq.resize(M), part.amp.resize(M);
  if (M == 0) return part;
  BitReader in{packed.bits, 8 * byte};
  part.time[0] = h[0], part.time[M - 1] = h[1];
  double u = 0;
  for (std::size_t j = 1; j + 1 < M; ++j) u += h[4] + in.rice(k[0]) * h[5], part.time[j] = h[0] + u * kTimeUnit;
  double q = h[2];
  part.freq[0] = std::pow(2.0, q / kCentUnits);
  for (std::size_t j = 1; j < M; ++j) q += BitReader::unzig(in.rice(k[1])), part.freq[j] = std::pow(2.0, q / kCentUnits);
  double l = h[3];
  for (std::size_t j = 0; j < M; ++j) {
    const double v = in.rice(k[2]);
    if (v == 0) {
      part.amp[j] = 0;
    } else {
      l += BitReader::unzig(v - 1);
      part.amp[j] = std::pow(10.0, l / (20 * kDbUnits));
    }
  }
  return part;
}

Packed pack(const PartialSet& set, const std::function<bool(std::size_t, const Partial&)>& close_enough) {
  Packed packed;
  for (std::size_t p = 0; p < set.partials.size(); ++p) {
    const Partial& part = set.partials[p];
    double head[6] = {0, 0, 0, 0, 0, 0};
    unsigned char rice[4] = {0, 0, 0, 0};
    packed.count.push_back(static_cast<std::uint32_t>(part.time.size()));
    const std::size_t start = packed.bits.size();
    bool raw = !part.time.empty() && !pack_partial(part, packed, head, rice);
    if (!raw && !part.time.empty() && close_enough) {
      packed.head.insert(packed.head.end(), head, head + 6);
      packed.rice.insert(packed.rice.end(), rice, rice + 4);
      raw = !close_enough(p, unpack(packed, p, start));
      packed.head.resize(packed.head.size() - 6);
      packed.rice.resize(packed.rice.size() - 4);
      if (raw) packed.bits.resize(start);
    }
    if (raw) {
      std::fill(head, head + 6, 0.0), std::fill(rice, rice + 3, 0);
      head[0] = part.time.front(), head[1] = part.time.back();
      for (std::size_t j = 0; j < part.time.size(); ++j) packed.raw.insert(packed.raw.end(), {part.time[j], part.freq[j], part.amp[j]});
    }
    rice[3] = static_cast<unsigned char>(raw);
    packed.head.insert(packed.head.end(), head, head + 6);
    packed.rice.insert(packed.rice.end(), rice, rice + 4);
  }
  return packed;
}

}  // namespace detail

namespace {

// Little-endian arrays of numbers, as the page's typed arrays read them.
class Bytes {
 public:
  void f64(double v) { put<std::uint64_t>(v); }
  void f32(float v) { put<std::uint32_t>(v); }
  void u32(std::uint32_t v) { put<std::uint32_t>(v); }
  void u8(unsigned char v) { data_.push_back(v); }
  const std::vector<unsigned char>& data() const { return data_; }

 private:
  // The value's bits, lowest byte first whatever this machine's order.
  template <class Bits, class T>
  void put(T v) {
    static_assert(sizeof(Bits) == sizeof(T));
    Bits bits;
    std::memcpy(&bits, &v, sizeof bits);
    for (std::size_t i = 0; i < sizeof bits; ++i) data_.push_back(static_cast<unsigned char>(bits >> (8 * i)));
  }
  std::vector<unsigned char> data_;
};

// One array as a script element of its own, in base64, written a piece at a time.
void put_array(Output& out, const char* id, const Bytes& bytes) {
  out.put(std::string("<script type=\"application/octet-stream\" id=\"zarn-") + id + "\">");
  const std::vector<unsigned char>& d = bytes.data();
  constexpr std::size_t kPiece = 3 * 16384;
  for (std::size_t at = 0; at < d.size(); at += kPiece) out.put(detail::base64(d.data() + at, std::min(kPiece, d.size() - at)));
  out.put("</script>\n");
}

std::string json_number(double v) {
  if (!std::isfinite(v)) return "null";
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", v);
  return text;
}

constexpr const char* kStyle = R"(
body{font-family:sans-serif;font-size:13px;margin:12px;color:#222}
#bar{display:flex;gap:10px;align-items:center;flex-wrap:wrap;margin-bottom:6px}
#bar button,#edits button{font-size:13px}
#edits,#layers{margin-bottom:6px}
#problem{color:#b00}
#readout{font-family:monospace;min-width:28em;color:#1f4e9c}
#view{border:1px solid #ccc;cursor:crosshair;touch-action:none}
#command{font-family:monospace;background:#f4f4f4;padding:6px;margin-top:6px;white-space:pre-wrap;word-break:break-all}
#status{color:#666}
)";

}  // namespace

std::vector<double> judged_by_filters(const PartialSet& set) {
  std::vector<double> judged;
  judged.reserve(3 * set.partials.size());
  for (const Partial& part : set.partials) {
    if (part.M() == 0) {
      judged.insert(judged.end(), 3, NAN);
      continue;
    }
    judged.push_back(mean_frequency(part));
    judged.push_back(amp2db(*std::max_element(part.amp.begin(), part.amp.end())));
    judged.push_back(part.time.back() - part.time.front());
  }
  return judged;
}

namespace {

// The page's controls, the canvas and the lines under it, which the script fills in.
constexpr const char* kPageBody =
    "<div id=\"bar\"><button id=\"reset\" title=\"the whole picture\">Reset view</button>"
    "<button id=\"play\" title=\"the selection, or everything (space)\">Play</button>"
    "<button id=\"loop\" title=\"the times in view, over and over\">Loop view</button><button id=\"stop\">Stop</button>"
    "<button id=\"clear\">Clear selection</button>"
    "<label>floor <input id=\"floor\" type=\"range\" min=\"-150\" max=\"0\" step=\"1\"> <span id=\"floor-value\"></span></label>"
    "<span id=\"readout\"></span></div>\n"
    "<div id=\"edits\">Selection: <button id=\"edit-delete\" title=\"Delete\">Delete</button><button id=\"edit-keep\" title=\"K\">Keep only</button>"
    " <input id=\"amount\" type=\"number\" value=\"100\" step=\"any\" size=\"7\">"
    "<button id=\"edit-transpose\">Transpose (cents)</button><button id=\"edit-shift\">Shift (s)</button>"
    "<button id=\"edit-stretch\" title=\"about the selection's start\">Stretch (factor)</button><button id=\"edit-gain\">Gain (dB)</button>"
    " <button id=\"undo\" title=\"ctrl-Z\">Undo</button><button id=\"redo\" title=\"ctrl-shift-Z\">Redo</button>"
    "<button id=\"save\">Save recipe</button>"
    " select by band <input id=\"where-band\" size=\"10\" placeholder=\"LO:HI Hz\"> level <input id=\"where-level\" size=\"8\" placeholder=\"LO:HI dB\">"
    "<button id=\"select-where\">Select</button> <span id=\"problem\"></span></div>\n"
    "<div id=\"layers\">Layers: <label><input type=\"checkbox\" id=\"layer-spectrogram\"> spectrogram</label> "
    "<label><input type=\"checkbox\" id=\"layer-breakpoints\"> breakpoints</label> "
    "<label><input type=\"checkbox\" id=\"layer-noise\"> noise</label> "
    "<label><input type=\"checkbox\" id=\"layer-log\"> log frequency</label></div>\n"
    "<canvas id=\"view\" width=\"1200\" height=\"720\"></canvas>\n"
    "<div id=\"status\">Wheel: zoom (shift: time only, alt: frequency only). Drag: pan. Click a partial: select it; "
    "ctrl-drag (or alt-drag): select those crossing the box; shift adds to the selection.</div>\n"
    "<div id=\"command\"></div>\n";

// The spectrogram's levels into `bytes`, and what the script needs to draw them, as JSON
// ("null" where there is none).
std::string spectrogram_meta(const PartialSet& read, Bytes& bytes) {
  if (!read.spectrogram || read.spectrogram->columns == 0) return "null";
  const Spectrogram& g = *read.spectrogram;
  for (unsigned char v : g.level) bytes.u8(v);
  return "{\"columns\":" + std::to_string(g.columns) + ",\"rows\":" + std::to_string(g.rows) + ",\"start\":" + json_number(g.start) +
         ",\"hop\":" + json_number(g.hop) + ",\"bin\":" + json_number(g.bin) + ",\"floor\":" + json_number(g.floor) +
         ",\"unit\":" + json_number(g.unit) + "}";
}

}  // namespace

void write_page(Output& out, const ResampledSet& set, const PartialSet& read, const PageOptions& options) {
  const PlotOptions& plot = options.plot;
  const PictureSpan span = picture_span(set, &read, plot);
  char step[32];
  std::snprintf(step, sizeof step, "%g", plot.step);
  const std::string title = plot.input + ", step " + step + (plot.method.empty() ? "" : ", " + plot.method) + ", " +
                            std::to_string(set.P()) + " partials";

  Bytes count, head, rice, bits, raw, summary, noise, noise_times, noise_power, spectrogram;
  long long points = 0;
  for (const Resampled& r : set.partials) points += static_cast<long long>(r.time.size());
  {
    const detail::Packed packed = detail::pack(read, options.close_enough);
    for (std::uint32_t c : packed.count) count.u32(c);
    for (double v : packed.head) head.f64(v);
    for (unsigned char v : packed.rice) rice.u8(v);
    for (unsigned char v : packed.bits) bits.u8(v);
    for (double v : packed.raw) raw.f64(v);
  }
  // The noise's frames, for the script to play it as the sound does.
  for (double t : set.noise.times) noise_times.f64(t);
  for (double p : set.noise.power) noise_power.f64(p);
  const std::string sgram = spectrogram_meta(read, spectrogram);
  const std::vector<double> judged = options.judged.empty() ? judged_by_filters(read) : options.judged;
  for (std::size_t i = 0; i < 3 * set.partials.size(); ++i) summary.f64(i < judged.size() ? judged[i] : NAN);
  for (const NoiseArea& a : noise_areas(set.noise)) {
    noise.f32(static_cast<float>(a.band));
    noise.f32(static_cast<float>(a.from));
    noise.f32(static_cast<float>(a.to));
    noise.f32(static_cast<float>(a.shade));
  }
  std::string edges = "[";
  for (std::size_t b = 0; b < set.noise.edges.size(); ++b) edges += (b > 0 ? "," : "") + json_number(set.noise.edges[b]);
  edges += "]";

  out.put("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<title>zarn: " + detail::xml_escape(title) + "</title>\n");
  out.put(std::string("<style>") + kStyle + "</style>\n</head><body>\n");
  out.put(kPageBody);
  out.put("<script type=\"application/json\" id=\"zarn-meta\">{\"title\":" + detail::json_string(title) +
          ",\"step\":" + json_number(set.step) + ",\"log\":" + (plot.log_frequency ? "true" : "false") +
          ",\"span\":{\"t0\":" + json_number(span.t0) + ",\"t1\":" + json_number(span.t1) + ",\"f0\":" + json_number(span.f0) +
          ",\"f1\":" + json_number(span.f1) + "},\"floor\":" + json_number(plot.floor_db) + ",\"rate\":" + std::to_string(options.rate) +
          ",\"partials\":" + std::to_string(set.P()) + ",\"points\":" + std::to_string(points) +
          ",\"length\":" + json_number(set.length) + ",\"fit\":" + detail::json_string(options.fit) + ",\"grid\":" + detail::json_string(options.grid) +
          ",\"aligned\":" + (set.aligned ? "true" : "false") + ",\"name\":" + detail::json_string(plot.input) +
          ",\"fingerprint\":" + detail::json_string(options.fingerprint) + ",\"replay\":" + detail::json_string(options.replay) +
          ",\"spectrogram\":" + sgram +
          ",\"command\":" + detail::json_string(options.command) + ",\"operands\":" + detail::json_string(options.operands) +
          ",\"noiseEdges\":" + edges + "}</script>\n");
  put_array(out, "count", count);
  put_array(out, "head", head);
  put_array(out, "rice", rice);
  put_array(out, "bits", bits);
  put_array(out, "raw", raw);
  put_array(out, "summary", summary);
  put_array(out, "noise", noise);
  put_array(out, "noise-times", noise_times);
  put_array(out, "noise-power", noise_power);
  put_array(out, "spectrogram", spectrogram);
  out.put("<script>\n");
  out.put(kPageScript);
  out.put("</script>\n</body></html>\n");
}

}  // namespace zarn

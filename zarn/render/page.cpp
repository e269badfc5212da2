#include "render/page.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
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

short centi_db(double amp) {
  if (!(amp > 0) || !std::isfinite(amp)) return -32768;
  return static_cast<short>(std::clamp(std::lround(amp2db(amp) * 100), -32767L, 32767L));
}

}  // namespace detail

namespace {

// Little-endian arrays of numbers, as the page's typed arrays read them.
class Bytes {
 public:
  void f64(double v) { put<std::uint64_t>(v); }
  void f32(float v) { put<std::uint32_t>(v); }
  void u32(std::uint32_t v) { put<std::uint32_t>(v); }
  void i16(short v) { put<std::uint16_t>(v); }
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
#bar button{font-size:13px}
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

void write_page(Output& out, const ResampledSet& set, const PartialSet& read, const PageOptions& options) {
  const PlotOptions& plot = options.plot;
  const PictureSpan span = picture_span(set, &read, plot);
  char step[32];
  std::snprintf(step, sizeof step, "%g", plot.step);
  const std::string title = plot.input + ", step " + step + (plot.method.empty() ? "" : ", " + plot.method) + ", " +
                            std::to_string(set.P()) + " partials";

  Bytes t0, count, freq, level, summary, noise;
  long long points = 0;
  for (std::size_t p = 0; p < set.partials.size(); ++p) {
    const Resampled& r = set.partials[p];
    t0.f64(r.time.empty() ? 0.0 : r.time[0]);
    count.u32(static_cast<std::uint32_t>(r.time.size()));
    points += static_cast<long long>(r.time.size());
    for (std::size_t j = 0; j < r.time.size(); ++j) {
      freq.f32(static_cast<float>(r.freq[j]));
      level.i16(detail::centi_db(r.amp[j]));
    }
  }
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
  out.put(
      "<div id=\"bar\"><button id=\"reset\" title=\"the whole picture\">Reset view</button>"
      "<button id=\"play\">Play</button><button id=\"stop\">Stop</button>"
      "<button id=\"clear\">Clear selection</button>"
      "<label>floor <input id=\"floor\" type=\"range\" min=\"-150\" max=\"0\" step=\"1\"> <span id=\"floor-value\"></span></label>"
      "<span id=\"readout\"></span></div>\n"
      "<canvas id=\"view\" width=\"1200\" height=\"720\"></canvas>\n"
      "<div id=\"status\">Wheel: zoom (shift: time only, alt: frequency only). Drag: pan. Click a partial: select it; "
      "ctrl-drag (or alt-drag): select those crossing the box; shift adds to the selection.</div>\n"
      "<div id=\"command\"></div>\n");
  out.put("<script type=\"application/json\" id=\"zarn-meta\">{\"title\":" + detail::json_string(title) +
          ",\"step\":" + json_number(set.step) + ",\"log\":" + (plot.log_frequency ? "true" : "false") +
          ",\"span\":{\"t0\":" + json_number(span.t0) + ",\"t1\":" + json_number(span.t1) + ",\"f0\":" + json_number(span.f0) +
          ",\"f1\":" + json_number(span.f1) + "},\"floor\":" + json_number(plot.floor_db) + ",\"rate\":" + std::to_string(options.rate) +
          ",\"partials\":" + std::to_string(set.P()) + ",\"points\":" + std::to_string(points) +
          ",\"command\":" + detail::json_string(options.command) + ",\"operands\":" + detail::json_string(options.operands) +
          ",\"noiseEdges\":" + edges + "}</script>\n");
  put_array(out, "t0", t0);
  put_array(out, "count", count);
  put_array(out, "freq", freq);
  put_array(out, "level", level);
  put_array(out, "summary", summary);
  put_array(out, "noise", noise);
  out.put("<script>\n");
  out.put(kPageScript);
  out.put("</script>\n</body></html>\n");
}

}  // namespace zarn

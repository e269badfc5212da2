// The browser page's writer: its encodings worked out by hand, and a page whose arrays decode
// to the resampled set. What the page does in a browser is tested in tests/browser.
#include "render/page.hpp"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support.hpp"

namespace {

TEST(Page, Encodings) {
  const struct {
    std::string in, out;
  } base64[] = {{"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="},
                {"foobar", "Zm9vYmFy"}, {std::string("\xff\xfe\x00", 3), "//4A"}};
  for (const auto& c : base64)
    EXPECT_EQ(zarn::detail::base64(reinterpret_cast<const unsigned char*>(c.in.data()), c.in.size()), c.out) << c.in;
  const struct {
    std::string in, out;
  } json[] = {{"plain.txt", "\"plain.txt\""},
              {"a\"b\\c", "\"a\\\"b\\\\c\""},
              {"</script><b>", "\"\\u003c/script>\\u003cb>\""},  // cannot end the script it sits in
              {std::string("tab\there\n\x01", 10), "\"tab\\u0009here\\u000a\\u0001\""},
              {"caf\xc3\xa9", "\"caf\xc3\xa9\""},
              {"bad\xff\xc3", "\"bad\\ufffd\\ufffd\""}};
  for (const auto& c : json) EXPECT_EQ(zarn::detail::json_string(c.in), c.out) << c.in;
  const struct {
    const char* in;
    const char* out;
  } quoted[] = {{"in.txt", "in.txt"}, {"--band=1:2", "--band=1:2"}, {"my file.wav", "'my file.wav'"},
                {"it's", "'it'\\''s'"}, {"", "''"}, {"$HOME", "'$HOME'"}};
  for (const auto& c : quoted) EXPECT_EQ(zarn::shell_quote(c.in), c.out) << c.in;
  for (const char* name : {"a.html", "A.HTML", "dir.d/x.Html"}) EXPECT_TRUE(zarn::is_page_name(name)) << name;
  for (const char* name : {"a.htm", "html", "a.svg", "a.html.gz", ".html"}) EXPECT_EQ(zarn::is_page_name(name), std::string(name) == ".html") << name;
}

std::vector<unsigned char> unbase64(const std::string& s) {
  std::vector<unsigned char> out;
  std::uint32_t bits = 0;
  int have = 0;
  for (char c : s) {
    const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    if (c == '=') break;
    bits = bits << 6 | static_cast<std::uint32_t>(std::strchr(digits, c) - digits);
    if ((have += 6) >= 8) out.push_back(static_cast<unsigned char>(bits >> (have -= 8)));
  }
  return out;
}

// The bytes of one array of the page.
std::vector<unsigned char> array(const std::string& page, const std::string& id) {
  const std::string open = "id=\"zarn-" + id + "\">";
  const std::size_t at = page.find(open) + open.size();
  return unbase64(page.substr(at, page.find("</script>", at) - at));
}

template <class T>
T little(const std::vector<unsigned char>& b, std::size_t i) {
  std::uint64_t v = 0;
  for (std::size_t k = 0; k < sizeof(T); ++k) v |= static_cast<std::uint64_t>(b[i * sizeof(T) + k]) << (8 * k);
  T out;
  if constexpr (sizeof(T) == 8) {
    std::memcpy(&out, &v, 8);
  } else if constexpr (sizeof(T) == 4) {
    const auto v32 = static_cast<std::uint32_t>(v);
    std::memcpy(&out, &v32, 4);
  } else {
    const auto v16 = static_cast<std::uint16_t>(v);
    std::memcpy(&out, &v16, 2);
  }
  return out;
}

// Every breakpoint comes back within half a quantum: times within 0.05 us (the first and last
// exactly), frequencies within 0.001 cent, levels within 0.001 dB, silence as silence; a
// partial that cannot be packed comes back as it was, bit for bit.
TEST(Page, PackedBreakpointsUnpack) {
  zarn::PartialSet set;
  const auto add = [&](std::vector<double> t, std::vector<double> f, std::vector<double> a) {
    set.partials.emplace_back();
    set.partials.back().time = t, set.partials.back().freq = f, set.partials.back().amp = a;
  };
  add({}, {}, {});
  add({0.25}, {440}, {0.1});
  add({0.1, 0.2}, {100, 20000}, {0, 1e-9});
  add({0.0123456789, 0.0181, 0.0239, 0.0297, 7.5}, {43.21, 44.2, 19000.5, 20.001, 5000}, {0.5, 0, 0.25, 0, 2.0});
  add({1, 2, 3}, {440, 0, 440}, {0.1, 0.1, 0.1});  // 0 Hz: raw
  add({1, 2, 3}, {440, 440, 440}, {0.1, -0.1, 0.1});  // a negative amplitude: raw
  add({1, 1 + 1e-9, 2}, {440, 441, 442}, {0.1, 0.1, 0.1});  // closer than the unit: raw
  add({0, 1e8, 2e8}, {440, 441, 442}, {0.1, 0.2, 0.1});  // a step past 2^47 units: raw
  add({0.5, 0.6, 0.7}, {300, 310, 320}, {0.1, 0.2, 0.3});  // refused below: raw
  // Each partial starts at a byte of its own: where the previous one's bits end.
  const zarn::detail::Packed packed = zarn::detail::pack(set, [&](std::size_t p, const zarn::Partial&) { return p != 8; });
  const std::vector<unsigned char> raw = {0, 0, 0, 0, 1, 1, 1, 1, 1};
  std::size_t byte = 0, raw_at = 0;
  for (std::size_t p = 0; p < set.partials.size(); ++p) {
    const zarn::Partial& in = set.partials[p];
    zarn::Partial out = in;
    if (raw[p]) {
      for (std::size_t j = 0; j < in.time.size(); ++j, raw_at += 3)
        out.time[j] = packed.raw[raw_at], out.freq[j] = packed.raw[raw_at + 1], out.amp[j] = packed.raw[raw_at + 2];
    } else if (!in.time.empty()) {
      out = zarn::detail::unpack(packed, p, byte);
      zarn::PartialSet one;
      one.partials.push_back(in);
      byte += zarn::detail::pack(one).bits.size();
    }
    EXPECT_EQ(packed.rice[4 * p + 3], raw[p]) << p;
    ASSERT_EQ(out.time.size(), in.time.size()) << p;
    for (std::size_t j = 0; j < in.time.size(); ++j) {
      if (raw[p] || j == 0 || j + 1 == in.time.size()) {
        EXPECT_EQ(out.time[j], in.time[j]) << p << " " << j;
      }
      EXPECT_NEAR(out.time[j], in.time[j], 0.5e-7) << p << " " << j;
      if (raw[p]) {
        EXPECT_EQ(out.freq[j], in.freq[j]) << p << " " << j;
        EXPECT_EQ(out.amp[j], in.amp[j]) << p << " " << j;
        continue;
      }
      EXPECT_NEAR(1200 * std::log2(out.freq[j] / in.freq[j]), 0, 0.0011) << p << " " << j;
      if (in.amp[j] <= 0) {
        EXPECT_EQ(out.amp[j], in.amp[j]) << p << " " << j;
      } else {
        EXPECT_NEAR(20 * std::log10(out.amp[j] / in.amp[j]), 0, 0.0011) << p << " " << j;
      }
    }
  }
  EXPECT_EQ(raw_at, packed.raw.size());
  EXPECT_EQ(byte, packed.bits.size());
}

// The page holds what the script needs beside the breakpoints: the fit, the grid, the
// fingerprint, the command that replays a recipe; the title cannot break out of the page.
TEST(Page, MetaAndArrays) {
  const zarn::PartialSet read = zarn::read_input(
      "( PARTIALS 2\n( POINTS 3\n0.1 440 -20\n0.2 450 -6\n0.3 460 -20\n)\n( POINTS 2\n0.05 1000 -40\n0.1 1000 -40\n)\n)\n", "x");
  zarn::ResampledSet set = zarn_test::lay_grid(read, 0.05, "x");
  zarn::resample(read, set);
  zarn::PageOptions o;
  o.plot.input = "</script><script>alert(1)</script>";
  o.plot.step = 0.05;
  o.command = "zarn --transpose=5";
  o.operands = "-o kept.txt x 0.05";
  o.fit = "monotone";
  o.grid = "whole";
  o.fingerprint = "0123456789abcdef";
  o.replay = "zarn --band=1:2";
  std::string page;
  zarn::Output out(&page);
  zarn::write_page(out, set, read, o);
  out.flush();
  EXPECT_EQ(page.find("<script>alert"), std::string::npos);
  for (const char* held : {"\"command\":\"zarn --transpose=5\"", "\"fit\":\"monotone\"", "\"grid\":\"whole\"",
                           "\"fingerprint\":\"0123456789abcdef\"", "\"replay\":\"zarn --band=1:2\"", "\"spectrogram\":null"})
    EXPECT_NE(page.find(held), std::string::npos) << held;
  const auto count = array(page, "count"), summary = array(page, "summary");
  ASSERT_EQ(count.size(), 8u);
  ASSERT_EQ(summary.size(), 48u);
  for (std::size_t p = 0; p < 2; ++p) {
    EXPECT_EQ(little<std::uint32_t>(count, p), static_cast<std::uint32_t>(read.partials[p].M()));
    EXPECT_EQ(little<double>(summary, 3 * p), zarn::mean_frequency(read.partials[p]));
    EXPECT_EQ(little<double>(summary, 3 * p + 2), read.partials[p].time.back() - read.partials[p].time.front());
  }
  EXPECT_DOUBLE_EQ(little<double>(summary, 1), -6);
  EXPECT_EQ(array(page, "bits"), zarn::detail::pack(read).bits);
  EXPECT_EQ(array(page, "noise").size(), 0u);
}

// An array longer than the pieces it is encoded in (48 KiB) decodes whole: no padding within.
TEST(Page, ALongArrayDecodesWhole) {
  zarn::PartialSet read;
  read.partials.resize(1);
  zarn::Partial& r = read.partials[0];
  for (int j = 0; j < 60001; ++j) r.time.push_back(0.001 * j), r.freq.push_back(100 + 0.25 * j * (j % 3)), r.amp.push_back(0.1 + 0.01 * (j % 7));
  zarn::ResampledSet set;
  set.step = 0.001;
  set.partials.resize(1);
  std::string page;
  zarn::Output out(&page);
  zarn::write_page(out, set, read, zarn::PageOptions{});
  out.flush();
  const std::vector<unsigned char> bits = array(page, "bits");
  ASSERT_GT(bits.size(), 3u * 16384);
  EXPECT_EQ(bits, zarn::detail::pack(read).bits);
}

}  // namespace

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
    double amp;
    short centi;
  } levels[] = {{1.0, 0}, {0.1, -2000}, {0.5, -602}, {2.0, 602}, {0.0, -32768}, {-1.0, -32768}, {NAN, -32768},
                {INFINITY, -32768}, {1e-300, -32767}, {1e200, 32767}};
  for (const auto& c : levels) EXPECT_EQ(zarn::detail::centi_db(c.amp), c.centi) << c.amp;
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

// Each partial's first time and count, every frequency and level, and what the filters judge,
// decode to the set's own; the title cannot break out of the page.
TEST(Page, ArraysHoldTheSet) {
  const zarn::PartialSet read = zarn::read_input(
      "( PARTIALS 2\n( POINTS 3\n0.1 440 -20\n0.2 450 -6\n0.3 460 -20\n)\n( POINTS 2\n0.05 1000 -40\n0.1 1000 -40\n)\n)\n", "x");
  zarn::ResampledSet set = zarn_test::lay_grid(read, 0.05, "x");
  zarn::resample(read, set);
  zarn::PageOptions o;
  o.plot.input = "</script><script>alert(1)</script>";
  o.plot.step = 0.05;
  o.command = "zarn --transpose=5";
  o.operands = "-o kept.txt x 0.05";
  std::string page;
  zarn::Output out(&page);
  zarn::write_page(out, set, read, o);
  out.flush();
  EXPECT_EQ(page.find("<script>alert"), std::string::npos);
  EXPECT_NE(page.find("\"command\":\"zarn --transpose=5\""), std::string::npos);
  const auto t0 = array(page, "t0"), count = array(page, "count"), freq = array(page, "freq"), level = array(page, "level"),
             summary = array(page, "summary");
  ASSERT_EQ(t0.size(), 16u);
  ASSERT_EQ(summary.size(), 48u);
  std::size_t point = 0;
  for (std::size_t p = 0; p < 2; ++p) {
    const zarn::Resampled& r = set.partials[p];
    EXPECT_EQ(little<double>(t0, p), r.time[0]);
    ASSERT_EQ(little<std::uint32_t>(count, p), static_cast<std::uint32_t>(r.N()));
    for (int j = 0; j < r.N(); ++j, ++point) {
      EXPECT_EQ(little<float>(freq, point), static_cast<float>(r.freq[j]));
      EXPECT_EQ(little<short>(level, point), zarn::detail::centi_db(r.amp[j]));
    }
    EXPECT_EQ(little<double>(summary, 3 * p), zarn::mean_frequency(read.partials[p]));
    EXPECT_EQ(little<double>(summary, 3 * p + 2), read.partials[p].time.back() - read.partials[p].time.front());
  }
  EXPECT_DOUBLE_EQ(little<double>(summary, 1), -6);
  EXPECT_EQ(freq.size(), 4 * point);
  EXPECT_EQ(array(page, "noise").size(), 0u);
}

// An array longer than the pieces it is encoded in (48 KiB) decodes whole: no padding within.
TEST(Page, ALongArrayDecodesWhole) {
  zarn::ResampledSet set;
  set.step = 0.001;
  set.partials.resize(1);
  zarn::Resampled& r = set.partials[0];
  for (int j = 0; j < 20001; ++j) r.time.push_back(0.001 * j), r.freq.push_back(100 + 0.25 * j), r.amp.push_back(0.1);
  std::string page;
  zarn::Output out(&page);
  zarn::write_page(out, set, zarn::PartialSet{}, zarn::PageOptions{});
  out.flush();
  const std::vector<unsigned char> freq = array(page, "freq");
  ASSERT_EQ(freq.size(), 4u * 20001);
  for (int j = 0; j < 20001; j += 997) EXPECT_EQ(little<float>(freq, static_cast<std::size_t>(j)), static_cast<float>(r.freq[j])) << j;
  EXPECT_EQ(little<float>(freq, 20000), static_cast<float>(r.freq[20000]));
}

}  // namespace

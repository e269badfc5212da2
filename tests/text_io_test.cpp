// Number conversions against the C library, and the token reader and buffered writer.
#include "text_io.hpp"

#include <unistd.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "failure.hpp"

namespace {

std::uint64_t kPow10Int(int n) {
  std::uint64_t p = 1;
  while (n-- > 0) p *= 10;
  return p;
}

std::uint64_t bits(double v) {
  std::uint64_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

// strtod on the whole token, the reference for what parse_double must accept and return.
bool strtod_whole(const std::string& token, double& v) {
  if (token.empty()) return false;
  char* end = nullptr;
  v = std::strtod(token.c_str(), &end);
  return end == token.c_str() + token.size();
}

TEST(ParseDouble, AgreesWithStrtodBitForBit) {
  const std::vector<std::string> tokens = {
      "0", "-0", "440", "-20.000", "0.0058", ".5", "5.", "-.5", "1e3", "1E-3", "1e+3", "+1.5", "+.5", "0x1p3",
      "0X1.8P-1", "-0x10", "inf", "-inf", "INF", "Infinity", "-infinity", "nan", "-nan", "NaN", "nan(123)",
      "1e400", "-1e400", "1e-400", "4e-320", "2.2250738585072011e-308", "1.7976931348623157e308",
      "123.4565", "0.1", "0.30000000000000004", "9007199254740993", "00000000000000000000000001.5",
      "1.00000000000000011102230246251565404236316680908203125", "3.14159265358979323846264338327950288",
      "9007199254740992", "9007199254740993", "-9007199254740994", "1234567890123456789", "12345678901234567890",
      "0.0000000000000000000001", "0.00000000000000000000001", "-0.000", "000.000", "0.1000000000000000000000",
      "12345.678901234567", "1234567890.123456789", "8.", "-8.", "1e0",
      // rejected: not a number, or not all of the token
      "", "-", "+", ".", "e3", "1e", "1e+", "441Hz", "abc", "1.2.3", "--1", "0x", "infinit", "nanx", "1,5", "1 ",
      std::string("1\0", 2), "0.1)", "(",
  };
  for (const std::string& t : tokens) {
    SCOPED_TRACE("token \"" + t + "\"");
    double want = 0, got = 0;
    const bool accepted = zarn::parse_double(t, got);
    ASSERT_EQ(accepted, strtod_whole(t, want));
    if (accepted) {
      EXPECT_EQ(bits(got), bits(want));
    }
  }
}

TEST(ParseDouble, AgreesWithStrtodOnRandomDecimals) {
  std::mt19937_64 rng(12345);
  char text[64];
  for (int i = 0; i < 200000; ++i) {
    const double v = std::ldexp(static_cast<double>(rng() >> 11), static_cast<int>(rng() % 80) - 60 - 53);
    if (i % 2)
      std::snprintf(text, sizeof text, "%.17g", v);
    else
      std::snprintf(text, sizeof text, "%.*f", static_cast<int>(rng() % 9), v);
    double want = 0, got = 0;
    ASSERT_TRUE(zarn::parse_double(text, got)) << text;
    ASSERT_TRUE(strtod_whole(text, want));
    ASSERT_EQ(bits(got), bits(want)) << text;
  }
}

TEST(ParseDouble, AgreesWithStrtodOnRandomPlainDecimals) {
  // "%.Nf" text of up to 19 significant digits: the plain-decimal path and its edges.
  std::mt19937_64 rng(99);
  char text[64];
  for (int i = 0; i < 300000; ++i) {
    const int digits = 1 + static_cast<int>(rng() % 19);
    const std::uint64_t mantissa = rng() % kPow10Int(digits);
    const int after_point = static_cast<int>(rng() % 24);
    std::snprintf(text, sizeof text, "%s%.*f", i % 3 ? "" : "-", after_point,
                  static_cast<double>(mantissa) / std::pow(10.0, after_point));
    double want = 0, got = 0;
    ASSERT_TRUE(zarn::parse_double(text, got)) << text;
    ASSERT_TRUE(strtod_whole(text, want));
    ASSERT_EQ(bits(got), bits(want)) << text;
  }
}

TEST(ParseCount, AcceptsWholeNonNegativeIntegersThatFitAnInt) {
  const struct {
    const char* token;
    bool ok;
    int value;
  } cases[] = {
      {"0", true, 0},         {"7", true, 7},          {"+12", true, 12},   {"-0", true, 0},
      {"0007", true, 7},      {"2147483647", true, 2147483647},           {"2147483648", false, 0},
      {"99999999999999999999", false, 0},             {"-1", false, 0},    {"", false, 0},
      {"+", false, 0},        {"1.0", false, 0},       {"1e3", false, 0},   {"12a", false, 0},
      {" 1", false, 0},       {"0x10", false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.token);
    int v = -1;
    EXPECT_EQ(zarn::parse_count(c.token, v), c.ok);
    if (c.ok) {
      EXPECT_EQ(v, c.value);
    }
  }
}

std::string fixed(double v, int decimals) {
  char buffer[zarn::kMaxFixedChars];
  return std::string(buffer, zarn::format_fixed(buffer, v, decimals));
}

std::string printf_fixed(double v, int decimals) {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, v);
  return buffer;
}

TEST(FormatFixed, MatchesPrintfOnEdgeValues) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<double> values = {
      0.0, -0.0, 1.0, -1.0, 0.5, 0.0005, 0.0015, 0.0025, -0.0005, 1e-7, -1e-7, 4.9999995e-7, 5e-7, 123.4565,
      22050.0, 2.5e-4, 0.125, 0.0625, 1.0005, 2.0005, 999.9995, 9.9999995, 1e15, 1e22, 1e300, -1e300,
      DBL_MAX, -DBL_MAX, DBL_MIN, 4.9e-324, std::nextafter(0.5, 0.0), std::nextafter(0.5, 1.0),
      static_cast<double>(123.4565f), static_cast<double>(FLT_MAX), nan, -nan,
      std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
  };
  for (double v : values)
    for (int decimals : {0, 3, 6}) {
      EXPECT_EQ(fixed(v, decimals), printf_fixed(v, decimals)) << v << " " << decimals;
    }
}

TEST(FormatFixed, MatchesPrintfOnRandomValues) {
  std::mt19937_64 rng(777);
  for (int i = 0; i < 300000; ++i) {
    double v;
    const std::uint64_t r = rng();
    switch (i % 3) {
      case 0: std::memcpy(&v, &r, sizeof v); break;  // any bit pattern
      case 1: v = static_cast<double>(static_cast<std::int64_t>(r % 200000000) - 100000000) / 1e6; break;  // near ties
      default: v = static_cast<double>(static_cast<float>(std::ldexp(static_cast<double>(r >> 40), -12))); break;
    }
    if (std::fabs(v) > 1e30) v = std::fmod(v, 1e30);
    ASSERT_EQ(fixed(v, 6), printf_fixed(v, 6)) << v;
    ASSERT_EQ(fixed(v, 3), printf_fixed(v, 3)) << v;
  }
}

TEST(FormatFixed, MatchesPrintfNextToEveryKindOfTie) {
  // Values within a few ulps of a half in the last printed place, where a fast rounding could
  // go the wrong way, in the magnitudes the listing and the file meet; several million.
  std::mt19937_64 rng(4242);
  for (int decimals : {3, 6}) {
    const double scale = std::pow(10.0, decimals);
    for (int i = 0; i < 1000000; ++i) {
      const double magnitude = std::pow(10.0, static_cast<double>(rng() % 9) - 1.0);
      const double n = std::floor(static_cast<double>(rng() % 1000000) / 1e6 * magnitude * scale);
      double v = (n + 0.5) / scale;
      for (int step = static_cast<int>(rng() % 5) - 2; step != 0; step += step > 0 ? -1 : 1)
        v = std::nextafter(v, step > 0 ? 1e300 : -1e300);
      if (i % 2) v = -v;
      ASSERT_EQ(fixed(v, decimals), printf_fixed(v, decimals)) << v;
      const double narrowed = static_cast<double>(static_cast<float>(v));
      ASSERT_EQ(fixed(narrowed, decimals), printf_fixed(narrowed, decimals)) << narrowed;
    }
  }
}

TEST(Quote, ShowsShortTokensWholeAndEscapesUnprintables) {
  EXPECT_EQ(zarn::quote("441Hz"), "\"441Hz\"");
  EXPECT_EQ(zarn::quote(std::string("a\x1b[2J\"\\\xff", 8)), "\"a\\x1b[2J\\x22\\x5c\\xff\"");
  EXPECT_EQ(zarn::quote(std::string(100, 'x')), "\"" + std::string(60, 'x') + "...\"");
}

std::vector<std::pair<std::string, long>> tokens_of(zarn::Input& in) {
  std::vector<std::pair<std::string, long>> all;
  zarn::Token t;
  while (in.next(t)) all.emplace_back(std::string(t.text), t.line);
  return all;
}

TEST(Input, SplitsOnEveryWhitespaceAndCountsLines) {
  const std::string text = "( PARTIALS\t1\r\n(\vPOINTS\f2\n\n 0 440 -20\n";
  zarn::Input in(text, "mem");
  const std::vector<std::pair<std::string, long>> want = {
      {"(", 1}, {"PARTIALS", 1}, {"1", 1}, {"(", 2}, {"POINTS", 2}, {"2", 2}, {"0", 4}, {"440", 4}, {"-20", 4}};
  EXPECT_EQ(tokens_of(in), want);
  EXPECT_EQ(in.end_line(), 4);
}

// Random bytes of every value, split by the tokenizer (which scans eight bytes at a time) and
// by the plain definition, one byte at a time.
TEST(Input, SplitsRandomBytesAsTheDefinitionSays) {
  std::mt19937_64 rng(31337);
  for (int round = 0; round < 2000; ++round) {
    std::string text(rng() % 200, '\0');
    for (char& c : text) c = static_cast<char>(rng() % 4 ? rng() % 256 : " \t\n\v\f\r"[rng() % 6]);
    std::vector<std::pair<std::string, long>> want;
    std::string token;
    long line = 1, token_line = 1;
    for (char c : text) {
      const bool space = c == ' ' || (c >= '\t' && c <= '\r');
      if (!space && token.empty()) token_line = line;
      if (!space) token += c;
      if (space && !token.empty()) want.emplace_back(token, token_line), token.clear();
      if (c == '\n') ++line;
    }
    if (!token.empty()) want.emplace_back(token, token_line);
    zarn::Input in(text, "mem");
    ASSERT_EQ(tokens_of(in), want) << round;
  }
}

// Reading a token and its value in one pass gives what next() and parse_double() give:
// the same token, line and bits, over random decimals and near misses of every kind.
TEST(Input, PlainDecimalsInOnePassAgreeWithTokenThenParse) {
  std::mt19937_64 rng(8080);
  const char* odd[] = {"-", ".", "-.", "1e3", "1.5.2", "0x10", "+3", "--1", "12a", "nan", "1.", ".5", "-0.000",
                       "12345678901234567890", "1234567890123456789", "9007199254740993", "0.00000000000000000001"};
  std::string text;
  for (int i = 0; i < 100000; ++i) {
    char number[64];
    if (rng() % 4 == 0)
      std::snprintf(number, sizeof number, "%s", odd[rng() % (sizeof odd / sizeof odd[0])]);
    else
      std::snprintf(number, sizeof number, "%.*f", static_cast<int>(rng() % 8),
                    (static_cast<double>(rng() % 2000000) - 1000000) / std::pow(10.0, static_cast<double>(rng() % 7)));
    text += number;
    text += " \t\n\r"[rng() % 4];
  }
  zarn::Input fused(text, "mem"), plain(text, "mem");
  zarn::Token a, b;
  for (int i = 0; i < 100000; ++i) {
    double va = 0, vb = 0;
    bool ok_a = fused.next_plain_decimal(a, va);
    if (!ok_a) {
      ASSERT_TRUE(fused.next(a));
      ok_a = zarn::parse_double(a.text, va);
    }
    ASSERT_TRUE(plain.next(b));
    const bool ok_b = zarn::parse_double(b.text, vb);
    ASSERT_EQ(a.text, b.text);
    ASSERT_EQ(a.line, b.line);
    ASSERT_EQ(ok_a, ok_b) << b.text;
    if (ok_b) {
      ASSERT_EQ(bits(va), bits(vb)) << b.text;
    }
  }
}

TEST(Input, EndLineIsTheLastLineThatHoldsAnything) {
  const struct {
    const char* text;
    long line;
  } cases[] = {{"", 1}, {"a", 1}, {"a\n", 1}, {"a\n\n", 2}, {"a\nb", 2}, {"\n\n\nb \t", 4}};
  for (const auto& c : cases) {
    zarn::Input in(std::string_view(c.text), "mem");
    tokens_of(in);
    EXPECT_EQ(in.end_line(), c.line) << c.text;
  }
}

TEST(Input, ReadsTokensWholeAcrossReadsFromAPipe) {
  // Tokens longer than the read buffer, and tokens cut by every chunk boundary.
  std::string text;
  std::vector<std::pair<std::string, long>> want;
  long line = 1;
  for (int i = 0; i < 4000; ++i) {
    std::string token(static_cast<std::size_t>(i % 401 == 0 ? 1 + i * 97 : 1 + i % 13), static_cast<char>('a' + i % 26));
    want.emplace_back(token, line);
    text += token;
    text += i % 5 == 0 ? "\n" : " ";
    if (i % 5 == 0) ++line;
  }
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  std::thread writer([&] {
    const char* p = text.data();
    std::size_t left = text.size();
    while (left > 0) {  // odd-sized writes, so that reads end anywhere
      const ssize_t w = ::write(fds[1], p, std::min<std::size_t>(left, 7919));
      if (w <= 0) break;
      p += w;
      left -= static_cast<std::size_t>(w);
    }
    ::close(fds[1]);
  });
  zarn::Input in(fds[0], "pipe");
  const auto got = tokens_of(in);
  writer.join();
  ::close(fds[0]);
  EXPECT_EQ(got, want);
}

TEST(Input, ReadErrorNamesTheFile) {
  zarn::Input in(-1, "gone.txt");
  zarn::Token t;
  try {
    in.next(t);
    FAIL() << "no failure";
  } catch (const zarn::Failure& f) {
    EXPECT_EQ(f.message, "zarn: gone.txt: cannot read: Bad file descriptor\n");
  }
}

TEST(Output, FormatsPadsAndBuffersIntoASink) {
  std::string sink;
  {
    zarn::Output out(&sink);
    out.put("( POINTS\t");
    out.put_int(-12);
    out.put('\n');
    out.put_fixed(22050.0, 3, 9);
    out.put('|');
    out.put_fixed(-140.0, 3, 9);
    out.put('|');
    out.put_fixed(-std::numeric_limits<double>::quiet_NaN(), 3, 9);
    out.put('|');
    out.put_fixed(0.1, 6);
    for (int i = 0; i < 100000; ++i) out.put_fixed(i, 0, 6);  // several buffers' worth
    out.put(std::string(1 << 20, 'z'));                      // larger than the buffer
    EXPECT_TRUE(out.flush());
  }
  std::string want = "( POINTS\t-12\n22050.000| -140.000|     -nan|0.100000";
  char cell[16];
  for (int i = 0; i < 100000; ++i) {
    std::snprintf(cell, sizeof cell, "%6d", i);
    want += cell;
  }
  want += std::string(1 << 20, 'z');
  EXPECT_EQ(sink, want);
}

// The figures of the file and the listing, padded straight into the buffer, against printf's
// "%9.3f" and "%.6f" (widths from 0 to 12), over values near ties and single-precision ones.
TEST(Output, PaddedFiguresMatchPrintf) {
  std::mt19937_64 rng(4242);
  std::string sink, want;
  zarn::Output out(&sink);
  char cell[512];
  for (int i = 0; i < 300000; ++i) {
    const std::uint64_t r = rng();
    double v = i % 2 ? static_cast<double>(static_cast<std::int64_t>(r % 4000000001) - 2000000000) / 1e6
                     : static_cast<double>(static_cast<float>(std::ldexp(static_cast<double>(r >> 35), -14 + static_cast<int>(r % 20))));
    if (i % 7 == 0) v = -v;
    const int width = static_cast<int>(r % 13), decimals = i % 3 ? 3 : 6;
    out.put_fixed(v, decimals, width);
    std::snprintf(cell, sizeof cell, "%*.*f", width, decimals, v);
    want += cell;
  }
  out.flush();
  EXPECT_EQ(sink, want);
}

TEST(Output, RemembersTheFirstWriteError) {
  zarn::Output out(-1);
  out.put("lost");
  EXPECT_FALSE(out.flush());
  EXPECT_EQ(out.error(), EBADF);
}

}  // namespace

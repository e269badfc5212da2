// Numbers parsed from tokens, against strtod bit for bit and the count's limits.
#include "io/number_parse.hpp"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support.hpp"

namespace {

using zarn_test::bits;

std::uint64_t kPow10Int(int n) {
  std::uint64_t p = 1;
  while (n-- > 0) p *= 10;
  return p;
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

}  // namespace

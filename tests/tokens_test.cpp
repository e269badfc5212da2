// The token reader: whitespace, lines, random bytes, one-pass decimals, pipes and read errors.
#include "io/tokens.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "model/failure.hpp"
#include "support.hpp"

namespace {

using zarn_test::bits;

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

// Rows read whole against the same rows read token by token: rows as "%9.3f" writes them and
// rows that only nearly are (another width, a sign, an exponent, a stray byte, a carriage
// return), each taken whole or left, whole, to the tokens.
TEST(Input, FixedRowsAgreeWithTheirTokens) {
  std::mt19937_64 rng(4242);
  const char* odd[] = {"  +12.500", "   1e+02", " 12.3456", "   12.34x", "  1_2.345", "      .5", "     -.5", "123456.789", "    nan", "  -0.000"};
  std::string text = "header";
  std::size_t fixed = 0;
  for (int r = 0; r < 20000; ++r) {
    std::string row;
    for (int f = 0; f < 3; ++f) {
      char field[64];
      if (rng() % 8 == 0)
        std::snprintf(field, sizeof field, "%s", odd[rng() % (sizeof odd / sizeof odd[0])]);
      else
        std::snprintf(field, sizeof field, "%9.3f", (static_cast<double>(rng() % 400000000) - 200000000) / std::pow(10.0, static_cast<double>(4 + rng() % 4)));
      row += field;
      row += f < 2 ? "\t" : rng() % 16 == 0 ? "\r\n" : "\n";
    }
    text += "\n" + row.substr(0, row.size() - 1);
  }
  text += "\n";
  zarn::Input rows(text, "mem"), tokens(text, "mem");
  zarn::Token t;
  ASSERT_TRUE(rows.next(t));
  ASSERT_TRUE(tokens.next(t));
  for (int r = 0; r < 20000; ++r) {
    double whole[3];
    const bool taken = rows.peek_fixed_row(whole);
    long line = 0;
    for (int f = 0; f < 3; ++f) {
      double v = 0;
      ASSERT_TRUE(tokens.next(t));
      line = t.line;
      if (taken) {
        ASSERT_TRUE(zarn::parse_double(t.text, v)) << t.text;
        ASSERT_EQ(bits(whole[f]), bits(v)) << t.text;
      }
      if (!taken) {
        ASSERT_TRUE(rows.next(t));
      }
    }
    if (taken) {
      rows.take_fixed_row();
      ++fixed;
    }
    ASSERT_EQ(rows.line(), line);
  }
  EXPECT_GT(fixed, 4000u);
  // Rows that are not three fields "%9.3f" apart by tabs are left to the tokens.
  for (const char* row : {"\n   81.844x  597.069\t  -56.202\n ", "\n   81.844\t  597.069\t  -56.20\n \n", "\n   81.844\t  597.069\t -56.202 \n ",
                          "\n   81.844\t  597.069\t  -56.202\r\n", "\r   81.844\t  597.069\t  -56.202\n ", "\n   81.844\t  597.069\t  -56.202"}) {
    const zarn::Input in(std::string_view(row), "mem");
    double v[3];
    EXPECT_FALSE(in.peek_fixed_row(v)) << row;
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

// A second pass reads what the first read, from where the input started: a file whose first
// bytes were read before the Input was made (as the format is recognised), a file opened part
// of the way in, and bytes in memory. A pipe cannot be read twice.
TEST(Input, RewindReadsTheSameInputAgain) {
  const std::string text = "skip ( PARTIALS\t2\n  0.125  440\n-3.5 x\n";
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  const int fd = ::fileno(file);
  ASSERT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  for (const long start : {0L, 5L}) {
    SCOPED_TRACE(start);
    ASSERT_EQ(::lseek(fd, start, SEEK_SET), start);
    char prefix[7];
    ASSERT_EQ(::read(fd, prefix, sizeof prefix), static_cast<ssize_t>(sizeof prefix));
    zarn::Input in(fd, "in.txt", std::string_view(prefix, sizeof prefix));
    ASSERT_TRUE(in.can_rewind());
    const auto first = tokens_of(in);
    ASSERT_TRUE(in.rewind());
    EXPECT_EQ(in.offset(), 0u);
    EXPECT_EQ(tokens_of(in), first);
    zarn::Input memory(std::string_view(text).substr(static_cast<std::size_t>(start)), "in.txt");
    EXPECT_EQ(tokens_of(memory), first);
    ASSERT_TRUE(memory.rewind());
    EXPECT_EQ(tokens_of(memory), first);
  }
  std::fclose(file);
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ::close(fds[1]);
  zarn::Input pipe(fds[0], "pipe");
  EXPECT_FALSE(pipe.can_rewind());
  EXPECT_FALSE(pipe.rewind());
  ::close(fds[0]);
}

// A run without whitespace longer than kMaxToken is refused at its line, so that an endless
// input (a device, a file of zeros) holds bounded memory; one of kMaxToken is read whole.
TEST(Input, TokensAreBounded) {
  const std::string longest(zarn::kMaxToken, 'a'), longer = "x\n" + std::string(zarn::kMaxToken + 1, 'a');
  zarn::Input in(longest, "in");
  zarn::Token t;
  ASSERT_TRUE(in.next(t));
  EXPECT_EQ(t.text.size(), zarn::kMaxToken);
  zarn::Input too_long(longer, "in");
  ASSERT_TRUE(too_long.next(t));
  try {
    too_long.next(t);
    ADD_FAILURE() << "accepted";
  } catch (const zarn::Failure& f) {
    EXPECT_EQ(f.message, "zarn: in:2: a word of more than 1048576 bytes without a space: not a text that zarn reads\n");
  }
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

}  // namespace

// Every message takes one of a few shapes, composed in one place.
#include "model/failure.hpp"

#include <cerrno>
#include <string>

#include <gtest/gtest.h>

namespace {

TEST(Failure, Shapes) {
  EXPECT_EQ(zarn::compose("out of memory"), "zarn: out of memory\n");
  EXPECT_EQ(zarn::compose("in.txt", "cannot read: Is a directory"), "zarn: in.txt: cannot read: Is a directory\n");
  EXPECT_EQ(zarn::compose("in.txt", 12L, "\"x\" is not a number"), "zarn: in.txt:12: \"x\" is not a number\n");
  EXPECT_EQ(zarn::compose_at_byte("a.sdif", 4096, "truncated frame"), "zarn: a.sdif: byte 4096: truncated frame\n");
  EXPECT_EQ(zarn::compose_at_time("voice.wav", 1.25, "no room"), "zarn: voice.wav: at 1.25 s: no room\n");
  EXPECT_EQ(zarn::compose_warning("ignoring extra argument 'x'"), "zarn: warning: ignoring extra argument 'x'\n");
  EXPECT_EQ(zarn::stdout_failed(EPIPE), "zarn: cannot write standard output: Broken pipe\n");
  EXPECT_EQ(zarn::failure("in.txt", 3L, "bad").message, "zarn: in.txt:3: bad\n");
  // A name's control bytes are shown, never obeyed: no escape recolours the terminal and no
  // newline starts a line that looks like a message of its own. Other bytes stand.
  const std::string odd = "a\x1b[31mb\nzarn: c\x7f\xc3\xa9.txt";
  const std::string shown = "a\\x1b[31mb\\x0azarn: c\\x7f\xc3\xa9.txt";
  EXPECT_EQ(zarn::shown_name(odd), shown);
  EXPECT_EQ(zarn::compose(odd, "x"), "zarn: " + shown + ": x\n");
  EXPECT_EQ(zarn::compose(odd, 2L, "x"), "zarn: " + shown + ":2: x\n");
  EXPECT_EQ(zarn::compose_at_byte(odd, 9, "x"), "zarn: " + shown + ": byte 9: x\n");
  EXPECT_EQ(zarn::compose_at_time(odd, 0.5, "x"), "zarn: " + shown + ": at 0.5 s: x\n");
}

TEST(Failure, KindsForPrograms) {
  const zarn::Failure bad = zarn::failure("in.txt", 3L, "bad");
  EXPECT_EQ(bad.kind, zarn::FailureKind::kBadInput);
  const zarn::Failure system = zarn::system_failure("dir", EISDIR, "cannot read");
  EXPECT_EQ(system.message, "zarn: dir: cannot read: Is a directory\n");
  EXPECT_EQ(system.kind, zarn::FailureKind::kFileSystem);
  EXPECT_EQ(system.error, EISDIR);
  const std::exception& any = system;  // main reports any standard exception
  EXPECT_STREQ(any.what(), system.message.c_str());
}

TEST(Quote, ShowsShortTokensWholeAndEscapesUnprintables) {
  EXPECT_EQ(zarn::quote("441Hz"), "\"441Hz\"");
  EXPECT_EQ(zarn::quote(std::string("a\x1b[2J\"\\\xff", 8)), "\"a\\x1b[2J\\x22\\x5c\\xff\"");
  EXPECT_EQ(zarn::quote(std::string(100, 'x')), "\"" + std::string(60, 'x') + "...\"");
}

TEST(Failure, WhatNeedsAgreesWithWhatItNames) {
  const struct {
    const char* what;
    const char* said;
  } cases[] = {{"the grid", "the grid needs"},
               {"the points set aside", "the points set aside need"},
               {"the onsets of the sound", "the onsets of the sound need"},
               {"the breakpoints of c.txt", "the breakpoints of c.txt need"},
               {"the analysis", "the analysis needs"},
               {"the noise", "the noise needs"},
               {"s", "s needs"}};
  for (const auto& c : cases) EXPECT_EQ(zarn::what_needs(c.what), c.said);
}

}  // namespace

// The one reporter, and what is refused before anything is read.
#include "app/checks.hpp"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "model/failure.hpp"
#include "run_binary.hpp"
#include "support.hpp"

namespace {

TEST(Checks, TheReporterShowsControlBytesButKeepsLines) {
  std::string printed;
  zarn::Output console(&printed);
  console.put("before\n");
  testing::internal::CaptureStderr();
  zarn::report(console, "zarn: a\x1b[2Jb\tc\x07: x\nzarn: warning: y\n");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "zarn: a\\x1b[2Jb\tc\\x07: x\nzarn: warning: y\n");
  EXPECT_EQ(printed, "before\n");  // what was printed went out first
}

TEST(Checks, RefusedBeforeReading) {
  const struct {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"--morph=0:0.3", "--morph-with=-", "-o", "o.txt", "-"}, "the input and --morph-with cannot both come on standard input"},
      {{"-"}, "the analysis comes on standard input, so the dialogue cannot ask for a name there"},
  };
  for (const auto& c : cases) {
    std::string printed;
    zarn::Output console(&printed);
    try {
      zarn::check_before_reading(zarn_test::parse(c.args), console);
      ADD_FAILURE() << c.message;
    } catch (const zarn::Failure& f) {
      EXPECT_NE(f.message.find(c.message), std::string::npos) << f.message;
    }
  }
  // One named file as input and --morph-with=-: standard input is the other sound alone.
  zarn_test::TempDir dir;
  std::string printed;
  zarn::Output console(&printed);
  EXPECT_NO_THROW(zarn::check_before_reading(zarn_test::parse({"--morph=0:0.3", "--morph-with=-", "-o", dir / "o.txt", "in.txt"}), console));
}

}  // namespace

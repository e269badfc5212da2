// Faults against the built binary: cut and lying files, absurd counts and steps, output that
// cannot be created or written, input that ends at the prompt, names that must not be
// followed. Each ends with status 1 and a clear message, never a crash, and leaves no file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "run_binary.hpp"

namespace {

using zarn_test::data;
using zarn_test::exists;
using zarn_test::kBanner;
using zarn_test::kPrompt;
using zarn_test::run_zarn;
using zarn_test::RunOptions;
using zarn_test::RunResult;
using zarn_test::slurp;
using zarn_test::spill;
using zarn_test::TempDir;

// Standard output from the first prompt on.
std::string dialogue(const RunResult& run) {
  const auto at = run.out.find(kPrompt);
  return at == std::string::npos ? "(no prompt)" : run.out.substr(at);
}

// Runs zarn on `content` as in.txt; a rejected file must leave standard output at the banner.
RunResult run_on(const TempDir& dir, const std::string& content, const std::vector<std::string>& more_args = {}) {
  spill(dir / "in.txt", content);
  std::vector<std::string> args = {"in.txt"};
  args.insert(args.end(), more_args.begin(), more_args.end());
  return run_zarn(args, dir.path(), {"out.txt\n"});
}

void expect_rejected(const TempDir& dir, const RunResult& run) {
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, kBanner);
  EXPECT_EQ(dir.list(), std::vector<std::string>{"in.txt"});
}

// ------------------------------------------------------------ input

TEST(Faults, FileCutAtEveryTokenBoundary) {
  const std::string whole = data("edge.txt");
  TempDir dir;
  int cuts = 0;
  for (std::size_t end = 0; end < whole.size(); ++end) {
    const bool token_ends_here = !std::isspace(static_cast<unsigned char>(whole[end])) &&
                                 (end + 1 == whole.size() || std::isspace(static_cast<unsigned char>(whole[end + 1])));
    if (!token_ends_here || end + 1 >= whole.size() - 1) continue;  // the whole file is not a cut
    const std::string cut = whole.substr(0, end + 1);
    SCOPED_TRACE(cut.substr(cut.size() > 40 ? cut.size() - 40 : 0));
    const auto run = run_on(dir, cut);
    expect_rejected(dir, run);
    const long last_line = 1 + static_cast<long>(std::count(cut.begin(), cut.end(), '\n'));
    const std::string head = "zarn: in.txt:" + std::to_string(last_line) + ": the file ends where ";
    const std::string tail = " should be\n";
    EXPECT_EQ(run.err.substr(0, head.size()), head);
    EXPECT_GT(run.err.size(), head.size() + tail.size());
    EXPECT_EQ(run.err.substr(run.err.size() - std::min(run.err.size(), tail.size())), tail);
    ++cuts;
  }
  EXPECT_GT(cuts, 100);
}

TEST(Faults, RejectedInputNamesFileLineAndToken) {
  const struct {
    const char* content;
    const char* step;
    const char* message;
  } cases[] = {
      // counts that lie: too few breakpoints announced, too many, too few partials, too many
      {"( PARTIALS 1\n( POINTS 1\n0 440 -20\n1 441 -20\n)\n)\n", "0.05",
       "zarn: in.txt:4: expected the \")\" closing partial 1 after its 1 breakpoints, found \"1\"\n"},
      {"( PARTIALS 1\n( POINTS 3\n0 440 -20\n1 441 -20\n)\n)\n", "0.05",
       "zarn: in.txt:5: \")\" is not a number, for the time of breakpoint 3 of partial 1\n"},
      {"( PARTIALS 1\n( POINTS 0\n)\n( POINTS 0\n)\n)\n", "0.05",
       "zarn: in.txt:4: expected the \")\" closing the list of 1 partials, found \"(\"\n"},
      {"( PARTIALS 3\n( POINTS 0\n)\n)\n", "0.05", "zarn: in.txt:4: the file ends where the header of partial 2 should be\n"},
      {"( PARTIALS 1\n( POINTS 2\n0 440 -20\n0.1 441Hz -20\n)\n)\n", "0.01",
       "zarn: in.txt:4: \"441Hz\" is not a number, for the frequency of breakpoint 2 of partial 1\n"},
      // a grid too fine for an int
      {"( PARTIALS 2\n( POINTS 0\n)\n( POINTS 2\n0 440 -20\n10 441 -20\n)\n)\n", "1e-9",
       "zarn: in.txt:4: this partial would have more than 2147483647 resampled breakpoints at this time step\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.content);
    TempDir dir;
    const auto run = run_on(dir, c.content, {c.step});
    expect_rejected(dir, run);
    EXPECT_EQ(run.err, c.message);
  }
}

TEST(Faults, HugeCountsInATinyFileAllocateNothingHuge) {
  // Memory reserved but never touched does not show in the resident size: an address-space
  // limit makes any reservation beyond what the file can fill fail. AddressSanitizer needs
  // terabytes of address space for itself, so its build checks the resident size only.
#ifdef ZARN_SANITIZED
  constexpr long kAddressSpace = -1;
#else
  constexpr long kAddressSpace = 256L << 20;
#endif
  const std::string tiny = "( PARTIALS 2000000000\n( POINTS 2000000000\n0 1 1\n";
  const std::string message = "zarn: in.txt:3: the file ends where the time of breakpoint 2 of partial 1 should be\n";
  TempDir dir;
  spill(dir / "in.txt", tiny);
  RunOptions options{"out.txt\n"};
  options.address_space_limit = kAddressSpace;
  const auto run = run_zarn({"in.txt"}, dir.path(), options);
  expect_rejected(dir, run);
  EXPECT_EQ(run.err, message);
  EXPECT_LT(run.max_rss_kb, 200 * 1024);

  // Through a pipe, where the size is not known beforehand.
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  std::thread writer([&] {
    const int fd = ::open((dir / "fifo").c_str(), O_WRONLY);
    if (fd < 0) return;
    if (::write(fd, tiny.data(), tiny.size()) < 0) {
    }
    ::close(fd);
  });
  const auto piped = run_zarn({"fifo"}, dir.path(), options);
  writer.join();
  EXPECT_EQ(piped.status, 1);
  EXPECT_EQ(piped.err, "zarn: fifo:3: the file ends where the time of breakpoint 2 of partial 1 should be\n");
  EXPECT_LT(piped.max_rss_kb, 200 * 1024);

  // A text export on standard input that announces two billion partials.
  options.stdin_text = "par-text-partials-format\npoint-type time frequency amplitude\npartials-count 2147483647\n"
                       "partials-data\n0 1 0 0\n0.0 440 0.1\n";
  const auto spear = run_zarn({"-q", "-o", "out.txt", "-"}, dir.path(), options);
  EXPECT_EQ(spear.status, 1);
  EXPECT_EQ(spear.err, "zarn: standard input:6: the file ends where the index of the 2nd partial should be\n");
  EXPECT_LT(spear.max_rss_kb, 200 * 1024);
}

TEST(Faults, BadTimeSteps) {
  for (const char* step : {"abc", "0", "-0.1", "0.01s", "", "inf", "nan", "1e-400", " 0.1"}) {
    SCOPED_TRACE(step);
    TempDir dir;
    const auto run = run_on(dir, data("edge.txt"), {step});
    expect_rejected(dir, run);
    EXPECT_EQ(run.err, std::string("zarn: the time step must be a number above zero, not \"") + step + "\"\n");
  }
}

TEST(Faults, GridLargerThanMemoryIsRefusedBeforeAnyOfIt) {
  // Five partials of 2 s at 1e-9: each grid fits an int, together they need 240 GB.
  std::string content = "( PARTIALS 5\n";
  for (int p = 0; p < 5; ++p) content += "( POINTS 2\n0 440 -20\n2 441 -20\n)\n";
  content += ")\n";
  TempDir dir;
  const auto run = run_on(dir, content, {"1e-9"});
  expect_rejected(dir, run);
  EXPECT_EQ(run.err.substr(0, 43), "zarn: out of memory: the grid needs 224 GiB");
  EXPECT_LT(run.max_rss_kb, 200 * 1024);
#ifndef ZARN_SANITIZED  // AddressSanitizer needs terabytes of address space for itself
  // What is available counts, not what the machine has: under an address-space limit of
  // 256 MiB, a grid of 229 MiB (5 partials of 2 s at 1e-6) is refused before any of it.
  RunOptions limited{"out.txt\n"};
  limited.address_space_limit = 256L << 20;
  const auto small = run_zarn({"in.txt", "1e-6"}, dir.path(), limited);
  EXPECT_EQ(small.status, 1);
  EXPECT_EQ(small.err.substr(0, 43), "zarn: out of memory: the grid needs 229 MiB") << small.err;
#endif
}

TEST(Faults, InputThatIsADirectory) {
  TempDir dir;
  ASSERT_EQ(::mkdir((dir / "sub").c_str(), 0700), 0);
  const auto run = run_zarn({"sub"}, dir.path());
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, kBanner);
  EXPECT_EQ(run.err, "zarn: sub: cannot read: Is a directory\n");
}

// ------------------------------------------------------------ output

TEST(Faults, ClosedStandardOutput) {
  TempDir dir;
  spill(dir / "in.txt", data("edge.txt"));
  RunOptions options{"out.txt\n"};
  options.close_stdout = true;
  auto run = run_zarn({"in.txt"}, dir.path(), options);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "zarn: cannot write standard output: Bad file descriptor\n");
  EXPECT_EQ(dir.list(), std::vector<std::string>{"in.txt"});
  // A run that prints nothing there does not need it.
  run = run_zarn({"-q", "-o", "out.txt", "in.txt"}, dir.path(), options);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(dir.list(), (std::vector<std::string>{"in.txt", "out.txt"}));
}

TEST(Faults, StandardOutputGoneAfterThePrompt) {
  // The reader of standard output leaves at the prompt, like `| head`: the file is still
  // saved, the lost "Hello, World!" is reported, and the status stays 0, with no signal.
  TempDir dir;
  spill(dir / "in.txt", data("edge.txt"));
  RunOptions options{"out.txt\n"};
  options.hang_up_after = kPrompt;
  const auto run = run_zarn({"in.txt", "0.1"}, dir.path(), options);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "zarn: cannot write standard output: Broken pipe\n");
  EXPECT_EQ(slurp(dir / "out.txt"), data("edge-0.1.result"));
}

TEST(Faults, StandardOutputFullAtThePromptIsReportedOnce) {
  TempDir dir;
  spill(dir / "in.txt", data("edge.txt"));
  RunOptions options{"out.txt\n"};
  options.stdout_path = "/dev/full";
  const auto run = run_zarn({"in.txt", "0.1"}, dir.path(), options);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "zarn: cannot write standard output: No space left on device\n");
  EXPECT_EQ(dir.list(), std::vector<std::string>{"in.txt"});
}

TEST(Faults, ExistingPathsOfEveryKindAreNeverOpened) {
  TempDir dir;
  spill(dir / "in.txt", data("edge.txt"));
  ASSERT_EQ(::mkdir((dir / "sub").c_str(), 0700), 0);
  spill(dir / "unreadable.txt", "secret");
  ASSERT_EQ(::chmod((dir / "unreadable.txt").c_str(), 0), 0);
  ASSERT_EQ(::symlink("target.txt", (dir / "dangling").c_str()), 0);
  const auto run = run_zarn({"in.txt", "0.1"}, dir.path(), {"sub unreadable.txt dangling out.txt"});
  EXPECT_EQ(dialogue(run), kPrompt + "File sub exists\n" + kPrompt + "File unreadable.txt exists\n" + kPrompt +
                               "File dangling exists\n" + kPrompt + "Hello, World!\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_FALSE(exists(dir / "target.txt"));  // the link was not followed
  ::chmod((dir / "unreadable.txt").c_str(), 0600);
  EXPECT_EQ(slurp(dir / "unreadable.txt"), "secret");
}

TEST(Faults, MissingDirectory) {
  TempDir dir;
  spill(dir / "in.txt", data("edge.txt"));
  const auto run = run_zarn({"in.txt", "0.1"}, dir.path(), {"nodir/out.txt\n"});
  EXPECT_EQ(dialogue(run), kPrompt + "Cannot create file nodir/out.txt\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "zarn: nodir/out.txt: No such file or directory\n");
  EXPECT_EQ(dir.list(), std::vector<std::string>{"in.txt"});
}

TEST(Faults, WriteThatFailsPartWay) {
  TempDir dir;
  spill(dir / "in.txt", data("edge.txt"));
  for (long limit : {0L, 1000L, 1030L}) {  // the result is 1,915 bytes
    SCOPED_TRACE(limit);
    RunOptions options{"out.txt\n"};
    options.file_size_limit = limit;
    const auto run = run_zarn({"in.txt", "0.1"}, dir.path(), options);
    EXPECT_EQ(dialogue(run), kPrompt + "Cannot write file out.txt\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(dir.list(), std::vector<std::string>{"in.txt"});
  }
}

#if defined(ZARN_HAVE_FFTW) && defined(ZARN_HAVE_SNDFILE)
// A sound on a pipe is kept in a temporary file to be decoded: where that file cannot grow (a
// full disk, here a limit on file size), the message says where it was kept and why.
TEST(Faults, ASoundOnAPipeThatCannotBeKept) {
  TempDir dir;
  const std::uint32_t samples = 44100, bytes = 2 * samples;
  std::string wav = "RIFF";
  const auto u32 = [&](std::uint32_t v) { for (int k = 0; k < 4; ++k) wav += static_cast<char>(v >> (8 * k) & 0xff); };
  u32(36 + bytes);
  wav += "WAVEfmt ";
  u32(16);
  wav += std::string("\x01\0\x01\0", 4);
  u32(44100);
  u32(88200);
  wav += std::string("\x02\0\x10\0", 4);
  wav += "data";
  u32(bytes);
  wav += std::string(bytes, '\0');
  spill(dir / "in.wav", wav);
  // Through a pipe, as `cat | zarn` gives it, under a limit of 20 kB on any file written.
  const std::string command = "cd '" + dir.path() + "' && ulimit -f 40 && cat in.wav | '" ZARN_BINARY "' -q -o out.txt - 2> err.txt";
  EXPECT_NE(std::system(command.c_str()), 0);
  const std::string err = slurp(dir / "err.txt");
  EXPECT_NE(err.find("zarn: standard input: cannot keep it in a temporary file in "), std::string::npos) << err;
  EXPECT_NE(err.find(": File too large\n"), std::string::npos) << err;
}
#endif

TEST(Faults, EndOfInputAtThePrompt) {
  for (const char* typed : {"", "   \n\n", "in.txt\n"}) {
    SCOPED_TRACE(typed);
    TempDir dir;
    spill(dir / "in.txt", data("edge.txt"));
    const auto run = run_zarn({"in.txt", "0.1"}, dir.path(), {typed});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "zarn: no output file name given; nothing saved\n");
    EXPECT_EQ(run.out.substr(run.out.size() - kPrompt.size()), kPrompt);
    EXPECT_EQ(dir.list(), std::vector<std::string>{"in.txt"});
  }
}

TEST(Faults, NameWithANulByteIsNotCut) {
  TempDir dir;
  spill(dir / "in.txt", data("edge.txt"));
  const auto run = run_zarn({"in.txt", "0.1"}, dir.path(), {std::string("out.txt\0.bak\n", 13)});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "zarn: the output file name holds a NUL byte; nothing saved\n");
  EXPECT_EQ(dir.list(), std::vector<std::string>{"in.txt"});
}

}  // namespace

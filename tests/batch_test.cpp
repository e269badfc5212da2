// Several inputs in one run: the names the templates give, the command lines refused, and
// runs of the binary whose outputs equal one-input runs byte for byte, whatever -j.
#include "app/batch.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "io/output.hpp"
#include "model/failure.hpp"
#include "run_binary.hpp"
#include "support.hpp"

namespace {

using zarn_test::parse;

std::string refusal(const std::vector<std::string>& args) {
  try {
    const zarn::Options o = parse(args);
    if (o.batch()) zarn::check_batch_names(o);
  } catch (const zarn::Failure& f) {
    return f.message;
  }
  return "accepted";
}

TEST(Batch, Names) {
  const struct {
    std::string pattern, input, ending, name;
  } cases[] = {
      {"out/{name}.sdif", "rec/a/take.wav", ".sdif", "out/take.sdif"},
      {"out/", "rec/take.wav", ".sdif", "out/take.sdif"},
      {"{name}-{ext}.txt", "take.aiff", ".txt", "take-aiff.txt"},
      {"{name}.{name}", "x.y.wav", "", "x.y.x.y"},  // the last ending only, every {name}
      {"o/{name}.txt", "noending", ".txt", "o/noending.txt"},
      {"o/{name}{ext}.txt", ".hidden", ".txt", "o/.hidden.txt"},  // a leading dot is no ending
      {"plain.txt", "x.wav", ".txt", "plain.txt"},
      {"o/{name}.{ext}", "x{ext}.txt", "", "o/x{ext}.txt"},  // braces of the input's own are no template
  };
  for (const auto& c : cases) EXPECT_EQ(zarn::output_name(c.pattern, c.input, c.ending), c.name) << c.pattern << " " << c.input;
  // Each output's own ending in a folder; the run quiet, one input.
  const zarn::Options batch = parse({"-f", "sdif", "-o", "out/", "--plot=pics/", "--wav=snd/{name}.flac", "--f0=out/", "--residual=snd/", "--step=0.01", "a/x.wav", "y.aiff"});
  ASSERT_TRUE(batch.batch());
  // One input with --step: its templates name its files as in a batch, and it speaks as asked.
  const zarn::Options alone = parse({"-o", "out/{name}.sdif", "--plot=pics/", "--step=0.01", "a/take.wav"});
  EXPECT_FALSE(alone.batch());
  EXPECT_EQ(alone.output, "out/take.sdif");
  EXPECT_EQ(alone.plot, "pics/take.svg");
  EXPECT_FALSE(alone.quiet);
  const zarn::Options one = zarn::one_input(batch, "a/x.wav");
  EXPECT_EQ(one.input, "a/x.wav");
  EXPECT_FALSE(one.batch());
  EXPECT_TRUE(one.quiet);
  EXPECT_EQ(one.output, "out/x.sdif");
  EXPECT_EQ(one.plot, "pics/x.svg");
  EXPECT_EQ(one.wav, "snd/x.flac");
  EXPECT_EQ(one.f0, "out/x.f0.txt");
  EXPECT_EQ(one.residual, "snd/x.residual.wav");  // beside the sound's snd/x.flac, not over it
  EXPECT_EQ(*one.step, "0.01");
  EXPECT_EQ(zarn::one_input(parse({"-o", "o/", "--step=1", "a", "b"}), "a").output, "o/a.txt");
}

TEST(Batch, Refused) {
  const struct {
    std::vector<std::string> args;
    std::string message;  // a part of it
  } cases[] = {
      {{"--step=0.01", "a.txt", "b.txt"}, "several inputs need -o with {name} or a folder"},
      {{"-o", "out.txt", "--step=0.01", "a.txt", "b.txt"}, "-o 'out.txt' would name one file for several inputs"},
      {{"-o", "-", "--step=0.01", "a.txt", "b.txt"}, "-o '-' would name one file"},
      {{"-o", "o/", "--plot=p.svg", "--step=0.01", "a.txt", "b.txt"}, "--plot 'p.svg' would name one file"},
      {{"-o", "o/", "--step=0.01", "a.txt", "-"}, "cannot take one from standard input"},
      {{"-o", "o/", "--info", "--step=0.01", "a.txt", "b.txt"}, "--info takes one input"},
      {{"-o", "o/{name}.txt", "--step=0.01", "x/a.txt", "y/a.txt"}, "o/a.txt: would be written for both x/a.txt and y/a.txt"},
      {{"-o", "o/{name}.svg", "--plot=o/", "--step=0.01", "a.txt", "b.wav"}, "o/a.svg: is named for two outputs of a.txt"},
      {{"-j", "0", "-o", "o/", "--step=1", "a", "b"}, "-j needs a number of jobs from 1 to 4096, not '0'"},
      {{"-o", "o/", "--step=0.01", "a.txt", "b.txt"}, "accepted"},
      {{"-o", "o/{name}.txt", "--f0=o/", "--step=0.01", "a.txt", "b.txt"}, "accepted"},  // x.txt and x.f0.txt
      {{"--step=0.01", "a.txt"}, "accepted"},  // one input: as INFILE DUR
  };
  for (const auto& c : cases) EXPECT_NE(refusal(c.args).find(c.message), std::string::npos) << refusal(c.args);
  const zarn::Options one = parse({"--step=0.02", "a.txt"});
  EXPECT_FALSE(one.batch());
  EXPECT_EQ(one.input, "a.txt");
  EXPECT_EQ(*one.step, "0.02");
}

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A batch with a bad input among good ones: the others done, the bad one named, status 1,
// nothing on standard output, and every output the bytes of its one-input run, with -j 1 and 3.
TEST(Batch, RunsLikeOneInputRuns) {
  zarn_test::TempDir dir;
  const std::vector<std::string> inputs = {"violin.txt", "bad.txt", "sub/two.txt", "three.txt"};
  {
    std::ofstream(dir / "violin.txt") << zarn_test::data("../../examples/violin.txt");
    std::ofstream(dir / "bad.txt") << "( PARTIALS 1\n( POINTS 2\n0 440 x\n";
    ::mkdir((dir / "sub").c_str(), 0755);
    std::ofstream(dir / "sub/two.txt") << "( PARTIALS 1\n( POINTS 3\n0 440 -6\n0.1 450 -8\n0.2 460 -7\n)\n)\n";
    std::ofstream(dir / "three.txt") << "( PARTIALS 2\n( POINTS 2\n0 100 -6\n0.3 110 -8\n)\n( POINTS 2\n0.1 200 -3\n0.2 210 -4\n)\n)\n";
  }
  for (const char* jobs : {"1", "3"}) {
    const std::string out = std::string("out") + jobs;
    ::mkdir((dir / out).c_str(), 0755);
    std::vector<std::string> args = {"-j", jobs, "-f", "sdif", "-o", out + "/", "--plot=" + out + "/{name}-{ext}.svg", "--step=0.01"};
    args.insert(args.end(), inputs.begin(), inputs.end());
    const zarn_test::RunResult r = zarn_test::run_zarn(args, dir.path());
    EXPECT_EQ(r.status, 1) << jobs;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("zarn: bad.txt:3:"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("zarn: 4 files: 3 done, 1 failed (bad.txt), in "), std::string::npos) << r.err;
    for (const std::string name : {"violin", "two", "three"}) {
      const std::string input = name == "two" ? "sub/two.txt" : name + ".txt";
      const zarn_test::RunResult alone =
          zarn_test::run_zarn({"-q", "-f", "sdif", "-o", "alone.sdif", "--force", "--plot=alone.svg", input, "0.01"}, dir.path());
      ASSERT_EQ(alone.status, 0) << alone.err;
      EXPECT_EQ(slurp(dir / (out + "/" + name + ".sdif")), slurp(dir / "alone.sdif")) << name;
      EXPECT_EQ(slurp(dir / (out + "/" + name + "-txt.svg")), slurp(dir / "alone.svg")) << name;
    }
    EXPECT_FALSE(zarn_test::exists(dir / (out + "/bad.sdif")));
  }
  // Run again: every output exists, and none is overwritten.
  const zarn_test::RunResult again = zarn_test::run_zarn({"-q", "-f", "sdif", "-o", "out1/", "--step=0.01", "violin.txt", "three.txt"}, dir.path());
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.err.find("out1/violin.sdif: exists"), std::string::npos) << again.err;
  EXPECT_NE(again.err.find("zarn: violin.txt: not done"), std::string::npos) << again.err;  // the input it was for
  EXPECT_EQ(again.err.find("files:"), std::string::npos);  // -q: no summary
}

// Every run is waited for and counted, also when the caller ignores SIGCHLD (trap '' CHLD),
// which would have the runs reaped unseen (waitpid then finds none, and a batch whose runs all
// failed was said to succeed): runs that all fail make a failed batch, and the caller's
// SIGCHLD is as it was afterwards.
TEST(Batch, EveryRunWaitedForWhenTheCallerIgnoresChildren) {
  const zarn::Options o = parse({"-o", "/nonexistent/{name}.txt", "--step=0.01", "a", "b", "c", "d", "e", "f"});
  struct sigaction ignore {}, before {}, after {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ASSERT_EQ(::sigaction(SIGCHLD, &ignore, &before), 0);
  std::string said;
  zarn::Output console(&said);
  const int status = zarn::run_batch(o, [](const zarn::Options&) { return 1; }, console);
  ::sigaction(SIGCHLD, &before, &after);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(after.sa_handler, SIG_IGN);
}

// Each run's standard error is kept in TMPDIR's folder, as every temporary file.
TEST(Batch, RunsSpeakIntoTheTemporaryFolder) {
  zarn_test::TempDir dir;
  const char* before = std::getenv("TMPDIR");
  const std::string saved = before != nullptr ? before : "";
  ::setenv("TMPDIR", dir.path().c_str(), 1);
  const zarn::Options o = parse({"-q", "-o", "/nonexistent/{name}.txt", "--step=0.01", "a", "b"});
  std::string said;
  zarn::Output console(&said);
  const std::string folder = dir.path();
  const int status = zarn::run_batch(o, [](const zarn::Options&) {
    char where[4096] = {};
    const ssize_t n = ::readlink("/proc/self/fd/2", where, sizeof where - 1);
    return n > 0 && std::string(where).rfind(std::getenv("TMPDIR"), 0) == 0 ? 0 : 1;
  }, console);
  if (before != nullptr) ::setenv("TMPDIR", saved.c_str(), 1); else ::unsetenv("TMPDIR");
  EXPECT_EQ(status, 0) << said;
}

// A batch killed (not its process group) takes its runs with it: none is left to write later.
TEST(Batch, RunsEndWithTheirParent) {
  zarn_test::TempDir dir;
  const std::vector<std::string> inputs = {dir / "a.txt", dir / "b.txt"};
  for (const std::string& input : inputs) ASSERT_EQ(::mkfifo(input.c_str(), 0600), 0);
  const std::string output = dir / "{name}.out";
  const pid_t batch = ::fork();
  if (batch == 0) {
    ::execl(ZARN_BINARY, "zarn", "-q", "-j", "2", "-o", output.c_str(), "--step=0.01", inputs[0].c_str(), inputs[1].c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  // Each run waits, reading its input, once it has opened it.
  std::vector<int> writers;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  for (const std::string& input : inputs) {
    int fd = -1;
    while (fd < 0 && std::chrono::steady_clock::now() < deadline) {
      fd = ::open(input.c_str(), O_WRONLY | O_NONBLOCK);
      if (fd < 0) ::usleep(10000);
    }
    ASSERT_GE(fd, 0) << input << " never opened by its run";
    writers.push_back(fd);
  }
  ::kill(batch, SIGKILL);
  ::waitpid(batch, nullptr, 0);
  for (int fd : writers) {
    while (!zarn::reader_gone(fd) && std::chrono::steady_clock::now() < deadline) ::usleep(10000);
    EXPECT_TRUE(zarn::reader_gone(fd)) << "a run outlived its batch";
    ::close(fd);
  }
}

}  // namespace

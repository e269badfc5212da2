// Saving: new names, existing ones, atomic replacement, failures that leave nothing behind
// and keep the system's reason, and the dialogue, all in-process.
#include "save.hpp"

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "failure.hpp"
#include "run_binary.hpp"

namespace {

using Kind = zarn::SaveOutcome::Kind;
using zarn_test::slurp;
using zarn_test::spill;
using zarn_test::TempDir;

const std::string kResult(5000, 'r');

zarn::Writer writes(const std::string& text) {
  return [text](zarn::Output& out) { out.put(text); };
}

// Runs `f` with the file size limit at `bytes` (SIGXFSZ ignored, as zarn ignores it).
template <typename F>
auto with_file_size_limit(rlim_t bytes, F f) {
  struct rlimit old;
  ::getrlimit(RLIMIT_FSIZE, &old);
  const auto old_handler = ::signal(SIGXFSZ, SIG_IGN);
  struct rlimit limited = old;
  limited.rlim_cur = bytes;
  ::setrlimit(RLIMIT_FSIZE, &limited);
  const auto result = f();
  ::setrlimit(RLIMIT_FSIZE, &old);
  ::signal(SIGXFSZ, old_handler);
  return result;
}

TEST(Save, NewNames) {
  TempDir dir;
  spill(dir / "old.txt", "keep");
  ASSERT_EQ(::symlink("target.txt", (dir / "dangling").c_str()), 0);
  const struct {
    std::string name;
    Kind kind;
    int error;
  } cases[] = {
      {"new.txt", Kind::kWritten, 0},
      {"old.txt", Kind::kExists, EEXIST},
      {"dangling", Kind::kExists, EEXIST},  // never followed
      {"nodir/new.txt", Kind::kCannotCreate, ENOENT},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto saved = zarn::save_new(dir / c.name, writes(kResult));
    EXPECT_EQ(saved.kind, c.kind);
    EXPECT_EQ(saved.error, c.error);
  }
  EXPECT_EQ(slurp(dir / "new.txt"), kResult);
  EXPECT_EQ(slurp(dir / "old.txt"), "keep");
  EXPECT_FALSE(zarn::path_exists(dir / "target.txt"));
}

TEST(Save, AFailedWriteLeavesNothing) {
  TempDir dir;
  const auto saved = with_file_size_limit(1000, [&] { return zarn::save_new(dir / "new.txt", writes(kResult)); });
  EXPECT_EQ(saved.kind, Kind::kCannotWrite);
  EXPECT_EQ(saved.error, EFBIG);
  EXPECT_EQ(dir.list(), std::vector<std::string>{});
}

TEST(Save, ReplacingIsWholeOrNothing) {
  TempDir dir;
  spill(dir / "old.txt", "old");
  ASSERT_EQ(::chmod((dir / "old.txt").c_str(), 0640), 0);
  auto saved = zarn::save_replacing(dir / "old.txt", writes(kResult));
  EXPECT_TRUE(saved.written());
  EXPECT_EQ(slurp(dir / "old.txt"), kResult);
  struct stat st;
  ASSERT_EQ(::stat((dir / "old.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);  // the replaced file's permissions are kept

  // A write that fails part-way leaves the old file as it was and no temporary file.
  saved = with_file_size_limit(1000, [&] { return zarn::save_replacing(dir / "old.txt", writes(kResult + "more")); });
  EXPECT_EQ(saved.kind, Kind::kCannotWrite);
  EXPECT_EQ(saved.error, EFBIG);
  EXPECT_EQ(slurp(dir / "old.txt"), kResult);
  EXPECT_EQ(dir.list(), std::vector<std::string>{"old.txt"});

  // A new name is written too; a directory is never replaced; a link is replaced, not followed.
  EXPECT_TRUE(zarn::save_replacing(dir / "new.txt", writes("n")).written());
  ASSERT_EQ(::mkdir((dir / "sub").c_str(), 0700), 0);
  EXPECT_EQ(zarn::save_replacing(dir / "sub", writes("x")).kind, Kind::kNotAFile);
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  EXPECT_EQ(zarn::save_replacing(dir / "fifo", writes("x")).kind, Kind::kNotAFile);
  ASSERT_EQ(::symlink("new.txt", (dir / "link").c_str()), 0);
  EXPECT_TRUE(zarn::save_replacing(dir / "link", writes("l")).written());
  EXPECT_EQ(slurp(dir / "new.txt"), "n");
  EXPECT_EQ(slurp(dir / "link"), "l");
  saved = zarn::save_replacing(dir / "nodir/x.txt", writes("x"));
  EXPECT_EQ(saved.kind, Kind::kCannotCreate);
  EXPECT_EQ(saved.error, ENOENT);
  EXPECT_EQ(dir.list(), (std::vector<std::string>{"fifo", "link", "new.txt", "old.txt", "sub"}));
}

// The dialogue with `typed` as the answers; returns the console's text and the warnings.
struct Dialogue {
  bool saved = false;
  std::string console, warnings, failure;
};

Dialogue converse(const std::string& typed) {
  Dialogue d;
  std::string sink;
  {
    zarn::Output console(&sink);
    zarn::Input answers(typed, "standard input");
    try {
      d.saved = zarn::save_dialogue(console, answers, writes(kResult), [&](const std::string& m) { d.warnings += m; });
    } catch (const zarn::Failure& f) {
      d.failure = f.message;
    }
    console.flush();
  }
  d.console = sink;
  return d;
}

TEST(Save, Dialogue) {
  TempDir dir;
  spill(dir / "old.txt", "keep");
  const std::string prompt = zarn_test::kPrompt;
  const std::string old = dir / "old.txt", fresh = dir / "new.txt", lost = dir / "nodir/x.txt";
  const struct {
    std::string typed;
    bool saved;
    std::string console, warnings, failure;
  } cases[] = {
      {old + " " + fresh + "\r\n", true, prompt + "File " + old + " exists\n" + prompt + "Hello, World!\n", "", ""},
      {lost + "\n", false, prompt + "Cannot create file " + lost + "\n", "zarn: " + lost + ": No such file or directory\n", ""},
      {" \n", false, prompt, "", "zarn: no output file name given; nothing saved\n"},
      {std::string("a\0b", 3), false, prompt, "", "zarn: the output file name holds a NUL byte; nothing saved\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed);
    const Dialogue d = converse(c.typed);
    EXPECT_EQ(d.saved, c.saved);
    EXPECT_EQ(d.console, c.console);
    EXPECT_EQ(d.warnings, c.warnings);
    EXPECT_EQ(d.failure, c.failure);
  }
  EXPECT_EQ(slurp(fresh), kResult);
  EXPECT_EQ(slurp(old), "keep");
}

}  // namespace

// Saving: new names, existing ones, atomic replacement, and failures that leave nothing
// behind and keep the system's reason, all in-process (the dialogue is run by the binary's
// tests).
#include "save.hpp"

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include <gtest/gtest.h>

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

}  // namespace

// Saving: new names, existing ones, atomic replacement, and failures that leave nothing
// behind and keep the system's reason, all in-process (the dialogue is run by the binary's
// tests).
#include "io/save.hpp"

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>
#include <thread>
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
  ASSERT_EQ(::mkdir((dir / "sub").c_str(), 0700), 0);
  const struct {
    std::string name;
    Kind kind;
    int error;
  } cases[] = {
      {"new.txt", Kind::kWritten, 0},
      {"old.txt", Kind::kExists, EEXIST},
      {"dangling", Kind::kExists, EEXIST},  // never followed
      {"nodir/new.txt", Kind::kCannotCreate, ENOENT},
      {"sub", Kind::kNotAFile, EISDIR},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto saved = zarn::save_new(dir / c.name, writes(kResult));
    EXPECT_EQ(saved.kind, c.kind);
    EXPECT_EQ(saved.error, c.error);
  }
  EXPECT_EQ(slurp(dir / "new.txt"), kResult);
  EXPECT_EQ(slurp(dir / "old.txt"), "keep");
  EXPECT_FALSE(zarn_test::exists(dir / "target.txt"));
}

// One file however its name is spelt: through ./, .., a link to its folder or a second link.
TEST(Save, SamePlace) {
  TempDir dir;
  ASSERT_EQ(::mkdir((dir / "sub").c_str(), 0700), 0);
  ASSERT_EQ(::symlink("sub", (dir / "link").c_str()), 0);
  spill(dir / "sub/a.txt", "a");
  ASSERT_EQ(::link((dir / "sub/a.txt").c_str(), (dir / "b.txt").c_str()), 0);
  const struct {
    std::string a, b;
    bool same;
  } cases[] = {
      {dir / "sub/new.svg", dir / "sub/./new.svg", true},  // neither exists yet
      {dir / "sub/new.svg", dir / "sub/../sub/new.svg", true},
      {dir / "sub/new.svg", dir / "link/new.svg", true},
      {dir / "sub/a.txt", dir / "b.txt", true},  // one file, two links
      {dir / "sub/new.svg", dir / "new.svg", false},
      {dir / "sub/new.svg", dir / "sub/new.SVG", false},
      {dir / "missing/new.svg", dir / "sub/new.svg", false},
  };
  for (const auto& c : cases) EXPECT_EQ(zarn::same_place(c.a, c.b), c.same) << c.a << " " << c.b;
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
  EXPECT_EQ(zarn::save_replacing(dir / "sub", writes("x")).error, EISDIR);
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
  // A character device is written to, with or without replacing, and stays the device: the
  // way to keep only a run's picture or sound is -o /dev/null.
  for (const bool replacing : {false, true}) {
    EXPECT_TRUE((replacing ? zarn::save_replacing("/dev/null", writes("x")) : zarn::save_new("/dev/null", writes("x"))).written());
    struct stat device;
    ASSERT_EQ(::stat("/dev/null", &device), 0);
    EXPECT_TRUE(S_ISCHR(device.st_mode));
  }
  EXPECT_EQ(zarn::save_new("/dev/full", writes("x")).error, ENOSPC);
}

TEST(Save, WhatTheWayMeetsIsCheckedBeforeAnyWork) {
  TempDir dir;
  spill(dir / "old.txt", "keep");
  ASSERT_EQ(::mkdir((dir / "sub").c_str(), 0700), 0);
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  const struct {
    std::string name;
    bool replacing;
    Kind kind;
    int error;
  } cases[] = {
      {"new.txt", false, Kind::kWritten, 0},   {"old.txt", false, Kind::kExists, EEXIST},
      {"old.txt", true, Kind::kWritten, 0},    {"sub", true, Kind::kNotAFile, EISDIR},
      {"fifo", true, Kind::kNotAFile, 0},      {"nodir/x.txt", false, Kind::kCannotCreate, ENOENT},
      {"old.txt/x.txt", true, Kind::kCannotCreate, ENOTDIR},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto clear = zarn::check_target(dir / c.name, c.replacing);
    EXPECT_EQ(clear.kind, c.kind);
    EXPECT_EQ(clear.error, c.error);
  }
  EXPECT_EQ(dir.list(), (std::vector<std::string>{"fifo", "old.txt", "sub"}));
}

// A run killed while it writes leaves nothing under the result's name, nor anything else:
// the file has its name only once it is whole.
TEST(Save, KilledWhileWritingLeavesNothing) {
  TempDir dir;
  spill(dir / "old.txt", "old");
  for (const bool replacing : {false, true}) {
    const std::string name = dir / (replacing ? "old.txt" : "new.txt");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      const zarn::FdWriter dies = [](int fd) {
        if (::write(fd, kResult.data(), kResult.size()) < 0) ::_exit(2);
        ::kill(::getpid(), SIGKILL);
        return 0;
      };
      replacing ? zarn::save_replacing(name, dies) : zarn::save_new(name, dies);
      ::_exit(3);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(dir.list(), std::vector<std::string>{"old.txt"});
    EXPECT_EQ(slurp(dir / "old.txt"), "old");
  }
}

// The process's umask, read without changing it.
std::string umask_now() {
  const std::string status = slurp("/proc/self/status");
  const auto at = status.find("Umask:");
  return at == std::string::npos ? "?" : status.substr(at, status.find('\n', at) - at);
}

// Saves in many threads at once never touch the process's umask, and every file gets the
// permissions it asks for; a replaced file never passes on set-ID bits.
TEST(Save, ThreadsKeepTheUmaskAndPermissions) {
  TempDir dir;
  const mode_t old_mask = ::umask(022);
  const std::string mask = umask_now();
  std::vector<std::thread> threads;
  std::atomic<int> changed{0};
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) {
        const std::string name = dir / ("f" + std::to_string(t) + "-" + std::to_string(i));
        zarn::save_replacing(name, writes("x"));
        zarn::save_new(name + "n", writes("x"));
        if (umask_now() != mask) ++changed;
      }
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(changed, 0);
  EXPECT_EQ(umask_now(), mask);
  struct stat st;
  for (const std::string& name : dir.list()) {
    ASSERT_EQ(::stat((dir / name).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u) << name;
  }
  spill(dir / "planted", "p");
  ASSERT_EQ(::chmod((dir / "planted").c_str(), 06777), 0);
  EXPECT_TRUE(zarn::save_replacing(dir / "planted", writes("mine")).written());
  ASSERT_EQ(::stat((dir / "planted").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0777u);
  ::umask(old_mask);
}

}  // namespace

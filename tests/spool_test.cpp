// Temporary files: in TMPDIR's folder where it takes them, else /tmp; numbers set aside and
// read back in any order.
#include "io/spool.hpp"

#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "run_binary.hpp"

namespace {

TEST(Spool, TheTemporaryFolder) {
  zarn_test::TempDir dir;
  const char* before = std::getenv("TMPDIR");
  const std::string saved = before != nullptr ? before : "";
  const struct {
    const char* tmpdir;  // null: unset
    std::string folder;
  } cases[] = {{dir.path().c_str(), dir.path()}, {"/nonexistent/zarn", "/tmp"}, {"", "/tmp"}, {nullptr, "/tmp"}};
  for (const auto& c : cases) {
    if (c.tmpdir != nullptr) ::setenv("TMPDIR", c.tmpdir, 1); else ::unsetenv("TMPDIR");
    std::string folder;
    const int fd = zarn::unnamed_temporary_file(folder);
    EXPECT_GE(fd, 0) << (c.tmpdir ? c.tmpdir : "unset");
    EXPECT_EQ(folder, c.folder);
    if (fd >= 0) ::close(fd);
  }
  if (before != nullptr) ::setenv("TMPDIR", saved.c_str(), 1); else ::unsetenv("TMPDIR");
  EXPECT_EQ(dir.list(), std::vector<std::string>{});  // nothing left with a name
}

TEST(Spool, ReadBackAnywhere) {
  zarn::Spool spool;
  const std::vector<double> a = {1, 2.5, -3}, b = {1e300, 4.9e-324};
  const std::uint64_t at_a = spool.append(a.data(), a.size()), at_b = spool.append(b.data(), b.size());
  EXPECT_EQ(at_a, 0u);
  EXPECT_EQ(at_b, 3u);
  std::vector<double> got(2);
  spool.read(at_b, got.data(), 2);
  EXPECT_EQ(got, b);
  spool.read(1, got.data(), 2);
  EXPECT_EQ(got, (std::vector<double>{2.5, -3}));
}

}  // namespace

// The layout of the code: every module in the folder of its part, and every include within
// what its part may use, as the build's table of parts says (written by CMakeLists.txt).
#include <dirent.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "run_binary.hpp"

namespace {

using Parts = std::map<std::string, std::set<std::string>>;  // a part and the parts it uses

Parts parse_parts(const std::string& table) {
  Parts parts;
  std::istringstream in(table);
  for (std::string line; std::getline(in, line);) {
    const auto colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::istringstream uses(line.substr(colon + 1));
    std::set<std::string>& set = parts[line.substr(0, colon)];
    for (std::string u; uses >> u;) set.insert(u);
  }
  return parts;
}

// The includes of `text` that a file of `part` may not make: of another part it does not use,
// or of a header outside every part.
std::vector<std::string> forbidden_includes(const Parts& parts, const std::string& part, const std::string& text) {
  const std::string mark = "#include \"";
  std::vector<std::string> bad;
  for (std::size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + 1)) {
    const std::size_t from = at + mark.size(), end = text.find('"', from);
    if (end == std::string::npos) break;
    const std::string path = text.substr(from, end - from);
    const std::size_t slash = path.find('/');
    const std::string target = slash == std::string::npos ? "" : path.substr(0, slash);
    const auto uses = parts.find(part);
    if (parts.count(target) == 0 || (target != part && (uses == parts.end() || uses->second.count(target) == 0)))
      bad.push_back(text.substr(at, end + 1 - at));
  }
  return bad;
}

std::vector<std::string> entries(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (const dirent* e = ::readdir(d))
      if (e->d_name[0] != '.') names.emplace_back(e->d_name);
    ::closedir(d);
  }
  return names;
}

// The checker itself: what a part uses passes, what it does not is caught, whatever the form.
TEST(Layout, TheCheckerCatchesForbiddenIncludes) {
  const Parts parts = parse_parts("model: \nio: model\nfit: model\napp: model io fit\n");
  EXPECT_EQ(forbidden_includes(parts, "fit", "#include \"model/partials.hpp\"\n#include \"fit/spline.hpp\"\n"),
            std::vector<std::string>{});
  EXPECT_EQ(forbidden_includes(parts, "fit", "#include <vector>\n#include \"io/tokens.hpp\"\n"),
            std::vector<std::string>{"#include \"io/tokens.hpp\""});
  EXPECT_EQ(forbidden_includes(parts, "model", "#include \"app/options.hpp\"\n"), std::vector<std::string>{"#include \"app/options.hpp\""});
  EXPECT_EQ(forbidden_includes(parts, "io", "#include \"partials.hpp\"\n"), std::vector<std::string>{"#include \"partials.hpp\""});
  EXPECT_EQ(forbidden_includes(parts, "io", "#include \"nowhere/x.hpp\"\n"), std::vector<std::string>{"#include \"nowhere/x.hpp\""});
}

TEST(Layout, EveryModuleInItsPartAndEveryIncludeAllowed) {
  const Parts parts = parse_parts(zarn_test::slurp(ZARN_PARTS_TABLE));
  ASSERT_EQ(parts.size(), 8u);
  const std::string root = std::string(ZARN_SOURCE_DIR) + "/zarn";
  for (const std::string& name : entries(root)) EXPECT_EQ(parts.count(name), 1u) << "zarn/" << name << " is no part";
  for (const auto& [part, uses] : parts) {
    for (const std::string& used : uses) EXPECT_EQ(parts.count(used), 1u) << part << " uses an unknown part " << used;
    EXPECT_EQ(uses.count("app"), 0u) << part;  // nothing includes the application
    for (const std::string& file : entries(root + "/" + part)) {
      const std::vector<std::string> bad = forbidden_includes(parts, part, zarn_test::slurp(root + "/" + part + "/" + file));
      EXPECT_TRUE(bad.empty()) << part << "/" << file << ": " << (bad.empty() ? "" : bad.front());
    }
  }
}

}  // namespace

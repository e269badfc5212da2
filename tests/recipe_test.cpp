// Recipes: the JSON they are written in, what is refused and where, and each edit replayed on
// the partials it names, by index among those the recipe was made for.
#include "edit/recipe.hpp"

#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "model/failure.hpp"
#include "model/phase.hpp"

namespace {

zarn::PartialSet three() {
  zarn::PartialSet set;
  set.partials.resize(3);
  set.partials[0].time = {0.1, 0.2, 0.4}, set.partials[0].freq = {440, 450, 460}, set.partials[0].amp = {0.5, 0.25, 0.125};
  set.partials[1].time = {0.3, 0.5}, set.partials[1].freq = {880, 870}, set.partials[1].amp = {0.1, 0.2};
  set.partials[2].time = {0.05, 0.15, 0.25}, set.partials[2].freq = {1500, 1540, 1580}, set.partials[2].amp = {0.01, 0.02, 0.04};
  return set;
}

std::string recipe_of(const zarn::PartialSet& set, const std::string& edits) {
  return "{\"zarn\": \"recipe\", \"version\": 1, \"input\": {\"name\": \"in.txt\", \"partials\": " + std::to_string(set.partials.size()) +
         ", \"fingerprint\": \"" + zarn::fingerprint(set) + "\"}, \"edits\": [" + edits + "]}";
}

std::string refusal(const std::string& text, zarn::PartialSet* set = nullptr) {
  try {
    const zarn::Recipe r = zarn::parse_recipe(text, "r.json");
    if (set != nullptr) zarn::apply_recipe(*set, r, "r.json");
  } catch (const zarn::Failure& f) {
    return f.message;
  }
  return "";
}

TEST(Recipe, RefusedWithThePlace) {
  const zarn::PartialSet set = three();
  const std::string head = recipe_of(set, "");
  const struct {
    std::string text, says;
  } cases[] = {
      {"[]", "r.json:1:1: byte 0: a recipe is a JSON object, not an array"},
      {"{\"version\": 1}", "r.json:1:1: byte 0: not a recipe: it lacks \"zarn\": \"recipe\""},
      {"{\"zarn\": \"recipe\", \"version\": 2}", "byte 30: a recipe of version 2, which this zarn does not know"},
      {"{\"zarn\": \"recipe\",", "r.json:1:19: byte 18: not a recipe: a member's name in quotes was expected"},
      // The line and the column in characters: "\xC3\xA9" is one (é), two bytes.
      {"{\n  \"zarn\": \"recipe\",\n  \"\xC3\xA9\": 01}", "r.json:3:8: byte 30: not a recipe: a number in JSON's form was expected"},
      {"{\"zarn\": \"recipe\"} x", "byte 19: not a recipe: more text after the value"},
      {"{\"a\": 01}", "byte 6: not a recipe: a number in JSON's form was expected"},
      {"{\"a\": \"\x01\"}", "byte 7: not a recipe: a control character within a string"},
      {std::string(65, '[') + std::string(65, ']'), "byte 64: not a recipe: values nested deeper than 64 levels"},
      {recipe_of(set, "{\"op\": \"rotate\", \"partials\": [0]}"), "edit 1: unknown op \"rotate\""},
      {recipe_of(set, "{\"op\": \"shift\", \"partials\": [0]}"), "edit 1 (shift) has no \"seconds\""},
      {recipe_of(set, "{\"op\": \"gain\", \"db\": \"6\", \"partials\": [0]}"), "\"db\" of edit 1 (gain) must be a number"},
      {recipe_of(set, "{\"op\": \"stretch\", \"factor\": 0, \"about\": 0, \"partials\": [0]}"), "a stretch's factor must be above zero, not 0"},
      {recipe_of(set, "{\"op\": \"delete\", \"partials\": [3]}"), "edit 1: no partial 3 among the 3 the recipe was made for"},
      {recipe_of(set, "{\"op\": \"delete\", \"partials\": [1.5]}"), "no partial 1.5 (not written as a whole number) among the 3"},
      {recipe_of(set, "{\"op\": \"delete\", \"partials\": [1e-400]}"), "no partial 0 (not written as a whole number)"},
      {recipe_of(set, "{\"op\": \"delete\", \"partials\": [0.99999999999999999999]}"), "no partial 1 (not written as a whole number)"},
      {recipe_of(set, "{\"op\": \"delete\", \"partials\": [1, 1]}"), "its partials must be listed once each, rising"},
      {recipe_of(set, "{\"op\": \"delete\", \"partials\": [-1]}"), "no partial -1 among the 3"},
      {"{\"zarn\": \"recipe\", \"version\": 1, \"input\": {\"partials\": 3.0, \"fingerprint\": \"x\"}, \"edits\": []}", "must hold a whole number of partials, not 3"},
      {recipe_of(set, "{\"op\": \"delete\", \"partials\": [2, 1]}"), "its partials must be listed once each, rising"},
  };
  for (const auto& c : cases) EXPECT_NE(refusal(c.text).find(c.says), std::string::npos) << c.text << "\n" << refusal(c.text);
  // The byte named is the value's own.
  const std::string bad = recipe_of(set, "{\"op\": \"delete\", \"partials\": [0, 7]}");
  EXPECT_NE(refusal(bad).find("byte " + std::to_string(bad.find("7]"))), std::string::npos) << refusal(bad);
  EXPECT_EQ(refusal(head), "");
}

// Each edit on the partials it names, with values whose mirror images would differ.
TEST(Recipe, EditsTheNamedPartials) {
  zarn::PartialSet set = three();
  const zarn::PartialSet before = set;
  zarn::apply_recipe(set,
                     zarn::parse_recipe(recipe_of(set, R"({"op": "transpose", "cents": -150, "partials": [0, 2]},
        {"op": "gain", "db": -7, "partials": [0]},
        {"op": "shift", "seconds": 0.25, "partials": [1]},
        {"op": "stretch", "factor": 1.5, "about": 0.1, "partials": [2]},
        {"op": "delete", "partials": [1]})"),
                                        "r.json"),
                     "r.json");
  ASSERT_EQ(set.partials.size(), 2u);
  const double down = std::pow(2.0, -150 / 1200.0), quieter = std::pow(10.0, -7 / 20.0);
  for (std::size_t j = 0; j < 3; ++j) {
    EXPECT_EQ(set.partials[0].time[j], before.partials[0].time[j]);
    EXPECT_EQ(set.partials[0].freq[j], before.partials[0].freq[j] * down);
    EXPECT_EQ(set.partials[0].amp[j], before.partials[0].amp[j] * quieter);
    EXPECT_EQ(set.partials[1].time[j], 0.1 + (before.partials[2].time[j] - 0.1) * 1.5);
    EXPECT_EQ(set.partials[1].freq[j], before.partials[2].freq[j] * down);
    EXPECT_EQ(set.partials[1].amp[j], before.partials[2].amp[j]);
  }
  EXPECT_NEAR(set.partials[1].time[0], 0.025, 1e-15);  // 0.1 - 0.05 * 1.5: the start moves towards 0.1, not away
  // A stretch's figures in its own order: 0.1 + (0.15 - 0.1) * 0.75 is 0.1375, where
  // 0.15 * 0.75 - 0.1 * 0.75 + 0.1 would round to 0.13749999999999998.
  zarn::PartialSet stretched = three();
  zarn::apply_recipe(stretched, zarn::parse_recipe(recipe_of(stretched, R"({"op": "stretch", "factor": 0.75, "about": 0.1, "partials": [2]})"), "r.json"),
                     "r.json");
  EXPECT_EQ(stretched.partials[2].time[1], 0.1375);
  // Keep: every other partial goes; the one kept keeps its values.
  zarn::PartialSet kept = three();
  zarn::apply_recipe(kept, zarn::parse_recipe(recipe_of(kept, R"({"op": "keep", "partials": [1]})"), "r.json"), "r.json");
  ASSERT_EQ(kept.partials.size(), 1u);
  EXPECT_EQ(kept.partials[0].freq, before.partials[1].freq);
}

// A gain and a deletion keep the phases measured; a transposition, a shift or a stretch makes
// the partial's phases anew from its first, as its frequencies lead them.
TEST(Recipe, PhasesKeptByGainsMadeAnewByMoves) {
  zarn::PartialSet set = three();
  for (zarn::Partial& p : set.partials) p.phase.assign({0.4, -1.1, 2.6}), p.phase.resize(p.time.size());
  zarn::apply_recipe(set, zarn::parse_recipe(recipe_of(set, R"({"op": "gain", "db": 4, "partials": [0, 2]},
        {"op": "shift", "seconds": 0.1, "partials": [1]},
        {"op": "transpose", "cents": 30, "partials": [2]})"), "r.json"), "r.json");
  EXPECT_EQ(set.partials[0].phase, (std::vector<double>{0.4, -1.1, 2.6}));
  for (std::size_t p : {1u, 2u}) {
    const zarn::Partial& part = set.partials[p];
    EXPECT_EQ(part.phase[0], 0.4);
    ASSERT_EQ(part.phase.size(), part.time.size());
    for (std::size_t j = 1; j < part.time.size(); ++j)
      EXPECT_NEAR(part.phase[j], zarn::next_phase(part.phase[j - 1], part.time[j - 1], part.freq[j - 1], part.time[j], part.freq[j]), 1e-12) << p;
  }
}

TEST(Recipe, RefusedForOtherPartialsOrImpossibleEdits) {
  zarn::PartialSet set = three();
  const std::string made = recipe_of(set, R"({"op": "delete", "partials": [0]})");
  zarn::PartialSet other = three();
  other.partials[1].amp[1] = std::nextafter(0.2, 1.0);  // one bit
  EXPECT_NE(refusal(made, &other).find("this recipe was made for other partials (3 partials, fingerprint " + zarn::fingerprint(set) +
                                       ", from in.txt), not for these (3 partials, fingerprint " + zarn::fingerprint(other)),
            std::string::npos)
      << refusal(made, &other);
  EXPECT_NE(zarn::fingerprint(set), zarn::fingerprint(other));
  // The value itself, as every saved recipe holds it (FNV-1a over the count and each figure's
  // bits, worked out apart from this code): a change here would refuse them all.
  EXPECT_EQ(zarn::fingerprint(set), "b915c0338974e033");
  EXPECT_EQ(zarn::fingerprint(zarn::PartialSet()), "a8c7f832281a39c5");
  zarn::PartialSet fewer = three();
  fewer.partials.pop_back();
  EXPECT_NE(refusal(made, &fewer).find("not for these (2 partials"), std::string::npos);
  const struct {
    std::string edits, says;
  } cases[] = {
      {R"({"op": "delete", "partials": [1]}, {"op": "gain", "db": 1, "partials": [1]})", "edit 2 (gain) names partial 2 (index 1), which an edit before it deleted"},
      {R"({"op": "keep", "partials": [0]}, {"op": "delete", "partials": [2]})", "edit 2 (delete) names partial 3 (index 2), which an edit before it deleted"},
      {R"({"op": "shift", "seconds": -0.06, "partials": [2]})", "edit 1 (shift) would leave partial 3 (index 2) with a time before 0 s"},
      {R"({"op": "shift", "seconds": -0.05, "partials": [2]})", ""},  // to 0 s exactly
      {R"({"op": "stretch", "factor": 1e-300, "about": 1, "partials": [0]})", "edit 1 (stretch) would leave partial 1 (index 0) with times that no longer rise"},
      {R"({"op": "transpose", "cents": 1.3e6, "partials": [0]})", "a frequency that is not a finite number"},
      {R"({"op": "transpose", "cents": -1.3e6, "partials": [0]})", "edit 1 (transpose) would leave partial 1 (index 0) with a frequency of 0 Hz"},
      {R"({"op": "transpose", "cents": -1.2e6, "partials": [0]})", ""},  // 440 Hz down 1000 octaves: a subnormal, not 0
      {R"({"op": "gain", "db": 7000, "partials": [1]})", "an amplitude that is not a finite number"},
  };
  for (const auto& c : cases) {
    zarn::PartialSet s = three();
    const std::string said = refusal(recipe_of(s, c.edits), &s);
    if (c.says.empty()) EXPECT_EQ(said, "") << c.edits;
    else EXPECT_NE(said.find(c.says), std::string::npos) << c.edits << "\n" << said;
  }
}

}  // namespace

// JSON as recipes are written in: strings and their escapes, values and where each starts,
// what is refused and at which byte, and a tree bounded by its text.
#include "io/json.hpp"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(Json, Strings) {
  const struct {
    const char* text;
    std::string value;
  } cases[] = {{"\"a\\u00e9\\n\\\"\\/\"", "a\xc3\xa9\n\"/"}, {"\"\\ud83c\\udfb5\"", "\xf0\x9f\x8e\xb5"}, {"\"\\ud83c x\"", "\xef\xbf\xbd x"},
               {"\"\\udfb5\"", "\xef\xbf\xbd"}, {"\xef\xbb\xbf \"bom\"", "bom"}};
  for (const auto& c : cases) {
    zarn::JsonError error;
    const zarn::JsonDocument doc = zarn::parse_json(c.text, error);
    EXPECT_EQ(error.what, "") << c.text;
    if (error.what.empty()) {
      EXPECT_EQ(doc.root().text(), c.value) << c.text;
    }
  }
  zarn::JsonError error;
  const zarn::JsonDocument doc = zarn::parse_json(" {\"n\": [-1.5e2, true, [], 7, null], \"m\": {\"k\": \"v\"}, \"w\": -12} ", error);
  ASSERT_EQ(error.what, "");
  zarn::JsonValue n = doc.root(), m = doc.root(), k = doc.root(), w = doc.root();
  ASSERT_TRUE(doc.root().member("n", n) && doc.root().member("m", m) && m.member("k", k) && doc.root().member("w", w));
  EXPECT_FALSE(doc.root().member("v", k));  // a value is no member's name
  EXPECT_EQ(doc.root().size(), 3u);
  ASSERT_EQ(n.size(), 5u);
  std::vector<zarn::JsonValue> items;
  for (const zarn::JsonValue item : n) items.push_back(item);
  ASSERT_EQ(items.size(), 5u);  // the empty array within is one item, the value after it the next
  EXPECT_EQ(items[0].number(), -150);
  EXPECT_FALSE(items[0].written_whole());
  EXPECT_TRUE(items[1].boolean());
  EXPECT_EQ(items[2].kind(), zarn::JsonValue::Kind::kArray);
  EXPECT_EQ(items[3].number(), 7);
  EXPECT_TRUE(items[3].written_whole());
  EXPECT_EQ(items[4].offset(), 29u);
  EXPECT_EQ(k.text(), "v");
  EXPECT_TRUE(w.written_whole());
  EXPECT_EQ(w.number(), -12);
}

// What JSON refuses, and at which byte: the last place that tells.
TEST(Json, RefusedAtTheByteThatTells) {
  const struct {
    std::string text;
    std::size_t at;
    const char* says;
  } cases[] = {
      {"\"a\x1f\"", 2, "a control character within a string"},
      {"\"a\x20\"", 0, ""},
      {"[1.]", 1, "a number needs digits after its point"},
      {"[1e]", 1, "a number needs digits in its exponent"},
      {"{\"a\": 1, \"b\": 2, \"a\": 3}", 17, "the member \"a\" is named twice in one object"},
      {"{\"b\": {\"a\": 1}, \"a\": 2}", 0, ""},  // one name in two objects
      {"{\"\\u0061\": 1, \"a\": 2}", 14, "the member \"a\" is named twice"},
      {"\xef\xbb\xbf", 3, "a value was expected, and the text ends"},
      {"\xef\xbb [1]", 0, "a value was expected"},
      {"[1e999]", 1, "a number beyond the range of doubles"},
  };
  for (const auto& c : cases) {
    zarn::JsonError error;
    zarn::parse_json(c.text, error);
    EXPECT_EQ(error.what.substr(0, std::string(c.says).size()), c.says) << c.text;
    if (*c.says != '\0') {
      EXPECT_EQ(error.offset, c.at) << c.text;
    }
  }
}

// The tree of the densest text a recipe can hold takes at most 9 times it, however it is made.
TEST(Json, TreeBoundedByItsText) {
  for (const std::string unit : {"1,", "[],", "\"\",", "{\"\":1},"}) {
    std::string text = "[";
    while (text.size() < 100000) text += unit;
    text.back() = ']';
    zarn::JsonError error;
    const zarn::JsonDocument doc = zarn::parse_json(text, error);
    ASSERT_EQ(error.what, "") << unit;
    EXPECT_LE(doc.bytes(), 9 * text.size()) << unit;
  }
}

}  // namespace

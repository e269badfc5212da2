// A small reader of JSON text (RFC 8259) into a tree of values, each with the byte offset it
// starts at, so that whoever interprets the tree can name the place of a value it refuses.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zarn {

/// One JSON value and where it starts in the text.
struct JsonValue {
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };
  Kind kind = Kind::kNull;
  std::size_t offset = 0;  // the byte its text starts at
  bool boolean = false;
  double number = 0;
  std::string text;                                        // a string's characters, UTF-8
  std::vector<JsonValue> items;                            // an array's values
  std::vector<std::pair<std::string, JsonValue>> members;  // an object's, in their order

  /// The member named `name` of an object; null where there is none.
  const JsonValue* member(std::string_view name) const;
};

/// What went wrong in a JSON text, and where.
struct JsonError {
  std::size_t offset = 0;
  std::string what;  // empty: no error
};

/// Reads `text`, which must hold one value with nothing but white space around it; nesting
/// deeper than 64 levels is refused. On an error `error.what` says what and where.
JsonValue parse_json(std::string_view text, JsonError& error);

/// A kind's name for messages: "a number", "an array", ...
const char* json_kind_name(JsonValue::Kind kind);

}  // namespace zarn

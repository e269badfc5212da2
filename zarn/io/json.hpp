// A small reader of JSON text (RFC 8259) into a tree of values, each with the byte offset it
// starts at, so that whoever interprets the tree can name the place of a value it refuses.
// The tree is one array of 16-byte nodes in the order of the text, and one buffer of the
// strings' characters, each sized exactly by a first pass: it takes at most about nine times
// the text, however the text is made.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zarn {

class JsonDocument;

/// One JSON value of a document, and where it starts in the text: a view, valid while its
/// document lives.
class JsonValue {
 public:
  enum class Kind : std::uint8_t { kNull, kBool, kNumber, kString, kArray, kObject };

  Kind kind() const;
  /// The byte its text starts at.
  std::size_t offset() const;
  bool boolean() const;
  double number() const;
  /// True for a number written as digits alone, with no fraction or exponent (an optional
  /// '-' before them).
  bool written_whole() const;
  /// A string's characters, UTF-8; a member's name where the value is one.
  std::string_view text() const;
  /// The number of an array's values or an object's members.
  std::size_t size() const;

  /// An array's values (an object's: its members' names and values, by turns), in order.
  class Iterator {
   public:
    JsonValue operator*() const { return {doc_, at_}; }
    Iterator& operator++();
    bool operator!=(const Iterator& other) const { return at_ != other.at_; }

   private:
    friend class JsonValue;
    Iterator(const JsonDocument* doc, std::uint32_t at) : doc_(doc), at_(at) {}
    const JsonDocument* doc_;
    std::uint32_t at_;
  };
  Iterator begin() const;
  Iterator end() const;

  /// The member named `name` of an object; false where there is none (`out` untouched).
  bool member(std::string_view name, JsonValue& out) const;

  JsonValue(const JsonDocument* doc, std::uint32_t index) : doc_(doc), index_(index) {}

 private:
  const JsonDocument* doc_;
  std::uint32_t index_;
};

/// A document read: its values, the first of them the root.
class JsonDocument {
 public:
  /// The value the text holds.
  JsonValue root() const { return {this, 0}; }
  /// The bytes the tree takes.
  std::size_t bytes() const { return nodes_.capacity() * sizeof(Node) + strings_.capacity(); }

 private:
  friend class JsonValue;
  friend class JsonReader;
  struct Span {
    std::uint32_t a, b;  // a container's end (the node after its last) and size; a string's start and length
  };
  struct Node {
    std::uint32_t offset = 0;
    JsonValue::Kind kind = JsonValue::Kind::kNull;
    bool flag = false;  // a boolean's value; a number's written_whole
    union {
      double number;
      Span span;
    };
    Node() : number(0) {}
  };
  static_assert(sizeof(Node) == 16, "a node takes 16 bytes");
  std::vector<Node> nodes_;
  std::string strings_;
};

/// What went wrong in a JSON text, and where.
struct JsonError {
  std::size_t offset = 0;
  std::string what;  // empty: no error
};

/// Reads `text`, which must hold one value with nothing but white space around it (and may
/// begin with a UTF-8 byte-order mark); nesting deeper than 64 levels, a member named twice in
/// one object and a text of 4 GiB or more are refused. On an error `error.what` says what and
/// where, and the document is empty.
JsonDocument parse_json(std::string_view text, JsonError& error);

/// A kind's name for messages: "a number", "an array", ...
const char* json_kind_name(JsonValue::Kind kind);

}  // namespace zarn

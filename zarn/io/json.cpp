#include "io/json.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

#include "io/number_parse.hpp"

namespace zarn {

JsonValue::Kind JsonValue::kind() const { return doc_->nodes_[index_].kind; }
std::size_t JsonValue::offset() const { return doc_->nodes_[index_].offset; }
bool JsonValue::boolean() const { return doc_->nodes_[index_].flag; }
double JsonValue::number() const { return doc_->nodes_[index_].kind == Kind::kNumber ? doc_->nodes_[index_].number : 0.0; }
bool JsonValue::written_whole() const { return doc_->nodes_[index_].kind == Kind::kNumber && doc_->nodes_[index_].flag; }

std::string_view JsonValue::text() const {
  const auto& n = doc_->nodes_[index_];
  if (n.kind != Kind::kString) return {};
  return std::string_view(doc_->strings_).substr(n.span.a, n.span.b);
}

std::size_t JsonValue::size() const {
  const auto& n = doc_->nodes_[index_];
  return n.kind == Kind::kArray || n.kind == Kind::kObject ? n.span.b : 0;
}

JsonValue::Iterator& JsonValue::Iterator::operator++() {
  const auto& n = doc_->nodes_[at_];
  at_ = n.kind == Kind::kArray || n.kind == Kind::kObject ? n.span.a : at_ + 1;
  return *this;
}

JsonValue::Iterator JsonValue::begin() const { return {doc_, size() == 0 ? end().at_ : index_ + 1}; }
JsonValue::Iterator JsonValue::end() const {
  const auto& n = doc_->nodes_[index_];
  return {doc_, n.kind == Kind::kArray || n.kind == Kind::kObject ? n.span.a : index_ + 1};
}

bool JsonValue::member(std::string_view name, JsonValue& out) const {
  if (kind() != Kind::kObject) return false;
  for (Iterator i = begin(); i != end(); ++i) {
    const JsonValue key = *i;
    ++i;
    if (key.text() == name) {
      out = *i;
      return true;
    }
  }
  return false;
}

const char* json_kind_name(JsonValue::Kind kind) {
  switch (kind) {
    case JsonValue::Kind::kNull: return "null";
    case JsonValue::Kind::kBool: return "true or false";
    case JsonValue::Kind::kNumber: return "a number";
    case JsonValue::Kind::kString: return "a string";
    case JsonValue::Kind::kArray: return "an array";
    case JsonValue::Kind::kObject: return "an object";
  }
  return "a value";
}

constexpr int kDeepest = 64;

// Reads the text twice: once to count its values and its strings' characters (and find any
// fault), once to fill a document sized exactly for them.
class JsonReader {
 public:
  JsonReader(std::string_view text, JsonError& error, JsonDocument* doc) : s_(text), error_(error), doc_(doc) {}

  void document() {
    if (s_.substr(0, 3) == "\xEF\xBB\xBF") at_ = 3;  // a byte-order mark, which some editors write
    value(0);
    space();
    if (ok() && at_ < s_.size()) fail("more text after the value");
  }
  std::size_t nodes() const { return nodes_; }
  static void reserve(JsonDocument& doc, std::size_t nodes, std::size_t characters) {
    doc.nodes_.reserve(nodes);
    doc.strings_.reserve(characters);
  }
  std::size_t characters() const { return characters_; }

 private:
  using Kind = JsonValue::Kind;
  bool ok() const { return error_.what.empty(); }
  void fail(const std::string& what) { fail_at(at_, what); }
  void fail_at(std::size_t at, const std::string& what) {
    if (ok()) error_ = {at, what};
  }
  void space() {
    while (at_ < s_.size() && (s_[at_] == ' ' || s_[at_] == '\t' || s_[at_] == '\n' || s_[at_] == '\r')) ++at_;
  }
  bool word(std::string_view w) {
    if (s_.substr(at_, w.size()) != w) return false;
    at_ += w.size();
    return true;
  }

  // A new node of `kind` at `offset`; its index.
  std::uint32_t node(Kind kind, std::size_t offset) {
    const auto index = static_cast<std::uint32_t>(nodes_++);
    if (doc_ != nullptr) {
      doc_->nodes_.emplace_back();
      doc_->nodes_.back().kind = kind;
      doc_->nodes_.back().offset = static_cast<std::uint32_t>(offset);
    }
    return index;
  }

  void value(int depth) {
    space();
    if (at_ >= s_.size()) return fail("a value was expected, and the text ends");
    const char c = s_[at_];
    if (c == '{' || c == '[') {
      if (depth >= kDeepest) return fail("values nested deeper than 64 levels");
      return container(c == '{', depth);
    }
    const std::size_t start = at_;
    if (c == '"') {
      string(node(Kind::kString, start));
    } else if (word("true") || word("false")) {
      const std::uint32_t i = node(Kind::kBool, start);
      if (doc_ != nullptr) doc_->nodes_[i].flag = c == 't';
    } else if (word("null")) {
      node(Kind::kNull, start);
    } else if (c == '-' || (c >= '0' && c <= '9')) {
      number(node(Kind::kNumber, start));
    } else {
      fail("a value was expected");
    }
  }

  void container(bool object, int depth) {
    const std::uint32_t index = node(object ? Kind::kObject : Kind::kArray, at_);
    const char close = object ? '}' : ']';
    ++at_;
    space();
    std::uint32_t count = 0;
    std::vector<std::uint32_t> names;  // an object's members' names, to find one named twice
    if (at_ < s_.size() && s_[at_] == close) {
      ++at_;
    } else {
      while (ok()) {
        space();
        if (object) {
          if (at_ >= s_.size() || s_[at_] != '"') {
            fail("a member's name in quotes was expected");
            break;
          }
          const std::uint32_t name = node(Kind::kString, at_);
          string(name);
          if (doc_ != nullptr) names.push_back(name);
          space();
          if (at_ >= s_.size() || s_[at_] != ':') {
            fail("':' was expected after a member's name");
            break;
          }
          ++at_;
        }
        value(depth + 1);
        ++count;
        space();
        if (at_ < s_.size() && s_[at_] == ',') {
          ++at_;
        } else if (at_ < s_.size() && s_[at_] == close) {
          ++at_;
          break;
        } else {
          fail(object ? "',' or '}' was expected in the object" : "',' or ']' was expected in the array");
        }
      }
    }
    if (doc_ == nullptr || !ok()) return;
    doc_->nodes_[index].span.a = static_cast<std::uint32_t>(nodes_);
    doc_->nodes_[index].span.b = count;
    once_each(names);
  }

  // Refuses a member named twice in one object, at the second place it is named.
  void once_each(std::vector<std::uint32_t>& names) {
    if (names.size() < 2) return;
    const auto text = [&](std::uint32_t i) { return JsonValue(doc_, i).text(); };
    std::sort(names.begin(), names.end(), [&](std::uint32_t x, std::uint32_t y) {
      const int order = text(x).compare(text(y));
      return order != 0 ? order < 0 : x < y;
    });
    std::size_t second = s_.size();
    std::string_view twice;
    for (std::size_t i = 1; i < names.size(); ++i)
      if (text(names[i]) == text(names[i - 1]) && doc_->nodes_[names[i]].offset < second)
        second = doc_->nodes_[names[i]].offset, twice = text(names[i]);
    if (second < s_.size()) fail_at(second, "the member \"" + std::string(twice) + "\" is named twice in one object");
  }

  // Four hexadecimal digits.
  bool hex4(std::uint32_t& u) {
    if (at_ + 4 > s_.size()) return false;
    u = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = s_[at_ + static_cast<std::size_t>(i)];
      const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
      if (d < 0) return false;
      u = u * 16 + static_cast<std::uint32_t>(d);
    }
    at_ += 4;
    return true;
  }

  static void utf8(std::string& out, std::uint32_t u) {
    if (u < 0x80) {
      out += static_cast<char>(u);
    } else if (u < 0x800) {
      out += static_cast<char>(0xC0 | u >> 6), out += static_cast<char>(0x80 | (u & 63));
    } else if (u < 0x10000) {
      out += static_cast<char>(0xE0 | u >> 12), out += static_cast<char>(0x80 | (u >> 6 & 63)), out += static_cast<char>(0x80 | (u & 63));
    } else {
      out += static_cast<char>(0xF0 | u >> 18), out += static_cast<char>(0x80 | (u >> 12 & 63));
      out += static_cast<char>(0x80 | (u >> 6 & 63)), out += static_cast<char>(0x80 | (u & 63));
    }
  }

  // A string's characters, into the document's buffer (counted only, on the first pass).
  void string(std::uint32_t index) {
    std::string local;
    std::string& out = doc_ != nullptr ? doc_->strings_ : local;
    const std::size_t begin = out.size();
    ++at_;  // the opening quote
    while (ok()) {
      if (at_ >= s_.size()) {
        fail("a string is not closed");
        break;
      }
      const auto c = static_cast<unsigned char>(s_[at_]);
      if (c == '"') {
        ++at_;
        break;
      }
      if (c < 0x20) {
        fail("a control character within a string");
        break;
      }
      if (c != '\\') {
        out += static_cast<char>(c), ++at_;
        continue;
      }
      if (++at_ >= s_.size()) continue;
      const char e = s_[at_++];
      switch (e) {
        case '"': case '\\': case '/': out += e; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          std::uint32_t u = 0;
          if (!hex4(u)) {
            fail("\\u needs four hexadecimal digits");
            break;
          }
          // A pair of surrogates is one character; a lone one stands for U+FFFD.
          if (u >= 0xD800 && u < 0xDC00 && s_.substr(at_, 2) == "\\u") {
            const std::size_t back = at_;
            at_ += 2;
            std::uint32_t low = 0;
            if (hex4(low) && low >= 0xDC00 && low < 0xE000) {
              u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
            } else {
              at_ = back;
              u = 0xFFFD;
            }
          } else if (u >= 0xD800 && u < 0xE000) {
            u = 0xFFFD;
          }
          utf8(out, u);
          break;
        }
        default:
          --at_;
          fail("an unknown escape in a string");
      }
    }
    characters_ += out.size() - begin;
    if (doc_ != nullptr) {
      doc_->nodes_[index].span.a = static_cast<std::uint32_t>(begin);
      doc_->nodes_[index].span.b = static_cast<std::uint32_t>(out.size() - begin);
    } else {
      local.clear();
    }
  }

  void number(std::uint32_t index) {
    const std::size_t start = at_;
    if (s_[at_] == '-') ++at_;
    const auto digits = [&] {
      const std::size_t from = at_;
      while (at_ < s_.size() && s_[at_] >= '0' && s_[at_] <= '9') ++at_;
      return at_ - from;
    };
    const std::size_t whole = at_;
    if (digits() == 0 || (s_[whole] == '0' && at_ - whole > 1)) {
      at_ = start;
      fail("a number in JSON's form was expected");
      return;
    }
    const bool as_digits = at_ >= s_.size() || (s_[at_] != '.' && s_[at_] != 'e' && s_[at_] != 'E');
    if (at_ < s_.size() && s_[at_] == '.') {
      ++at_;
      if (digits() == 0) return at_ = start, fail("a number needs digits after its point");
    }
    if (at_ < s_.size() && (s_[at_] == 'e' || s_[at_] == 'E')) {
      ++at_;
      if (at_ < s_.size() && (s_[at_] == '+' || s_[at_] == '-')) ++at_;
      if (digits() == 0) return at_ = start, fail("a number needs digits in its exponent");
    }
    double v = 0;
    if (!parse_double(s_.substr(start, at_ - start), v) || !std::isfinite(v)) {
      at_ = start;
      fail("a number beyond the range of doubles");
    }
    if (doc_ == nullptr) return;
    doc_->nodes_[index].number = v;
    doc_->nodes_[index].flag = as_digits;
  }

  std::string_view s_;
  std::size_t at_ = 0;
  JsonError& error_;
  JsonDocument* doc_;  // null on the first pass, which only counts
  std::size_t nodes_ = 0, characters_ = 0;
};

JsonDocument parse_json(std::string_view text, JsonError& error) {
  error = {};
  JsonDocument doc;
  if (text.size() >= 0xffffffffu) {
    error = {0, "a text of 4 GiB or more"};
    return doc;
  }
  JsonReader count(text, error, nullptr);
  count.document();
  if (!error.what.empty()) return doc;
  JsonReader::reserve(doc, count.nodes(), count.characters());
  JsonReader fill(text, error, &doc);
  fill.document();
  if (!error.what.empty()) doc = JsonDocument();
  return doc;
}

}  // namespace zarn

#include "io/json.hpp"

#include <cmath>
#include <cstdint>

#include "io/number_parse.hpp"

namespace zarn {

const JsonValue* JsonValue::member(std::string_view name) const {
  for (const auto& m : members)
    if (m.first == name) return &m.second;
  return nullptr;
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

namespace {

constexpr int kDeepest = 64;

class Reader {
 public:
  Reader(std::string_view text, JsonError& error) : s_(text), error_(error) {}

  JsonValue document() {
    JsonValue v = value(0);
    space();
    if (ok() && at_ < s_.size()) fail("more text after the value");
    return v;
  }

 private:
  bool ok() const { return error_.what.empty(); }
  void fail(const std::string& what) {
    if (ok()) error_ = {at_, what};
  }
  void space() {
    while (at_ < s_.size() && (s_[at_] == ' ' || s_[at_] == '\t' || s_[at_] == '\n' || s_[at_] == '\r')) ++at_;
  }
  bool word(std::string_view w) {
    if (s_.substr(at_, w.size()) != w) return false;
    at_ += w.size();
    return true;
  }

  JsonValue value(int depth) {
    space();
    JsonValue v;
    v.offset = at_;
    if (at_ >= s_.size()) {
      fail("a value was expected, and the text ends");
      return v;
    }
    const char c = s_[at_];
    if (c == '{' || c == '[') {
      if (depth >= kDeepest) {
        fail("values nested deeper than 64 levels");
        return v;
      }
      return c == '{' ? object(depth) : array(depth);
    }
    if (c == '"') {
      v.kind = JsonValue::Kind::kString;
      v.text = string();
    } else if (word("true") || word("false")) {
      v.kind = JsonValue::Kind::kBool;
      v.boolean = c == 't';
    } else if (word("null")) {
      v.kind = JsonValue::Kind::kNull;
    } else if (c == '-' || (c >= '0' && c <= '9')) {
      v.kind = JsonValue::Kind::kNumber;
      v.number = number();
    } else {
      fail("a value was expected");
    }
    return v;
  }

  JsonValue array(int depth) {
    JsonValue v;
    v.kind = JsonValue::Kind::kArray;
    v.offset = at_++;
    space();
    if (at_ < s_.size() && s_[at_] == ']') return ++at_, v;
    while (ok()) {
      v.items.push_back(value(depth + 1));
      space();
      if (at_ < s_.size() && s_[at_] == ',') {
        ++at_;
      } else if (at_ < s_.size() && s_[at_] == ']') {
        ++at_;
        break;
      } else {
        fail("',' or ']' was expected in the array");
      }
    }
    return v;
  }

  JsonValue object(int depth) {
    JsonValue v;
    v.kind = JsonValue::Kind::kObject;
    v.offset = at_++;
    space();
    if (at_ < s_.size() && s_[at_] == '}') return ++at_, v;
    while (ok()) {
      space();
      if (at_ >= s_.size() || s_[at_] != '"') {
        fail("a member's name in quotes was expected");
        break;
      }
      std::string name = string();
      space();
      if (at_ >= s_.size() || s_[at_] != ':') {
        fail("':' was expected after a member's name");
        break;
      }
      ++at_;
      v.members.emplace_back(std::move(name), value(depth + 1));
      space();
      if (at_ < s_.size() && s_[at_] == ',') {
        ++at_;
      } else if (at_ < s_.size() && s_[at_] == '}') {
        ++at_;
        break;
      } else {
        fail("',' or '}' was expected in the object");
      }
    }
    return v;
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

  std::string string() {
    std::string out;
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
    return out;
  }

  double number() {
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
      return 0;
    }
    if (at_ < s_.size() && s_[at_] == '.') {
      ++at_;
      if (digits() == 0) return at_ = start, fail("a number needs digits after its point"), 0;
    }
    if (at_ < s_.size() && (s_[at_] == 'e' || s_[at_] == 'E')) {
      ++at_;
      if (at_ < s_.size() && (s_[at_] == '+' || s_[at_] == '-')) ++at_;
      if (digits() == 0) return at_ = start, fail("a number needs digits in its exponent"), 0;
    }
    double v = 0;
    if (!parse_double(s_.substr(start, at_ - start), v) || !std::isfinite(v)) {
      at_ = start;
      fail("a number beyond the range of doubles");
    }
    return v;
  }

  std::string_view s_;
  std::size_t at_ = 0;
  JsonError& error_;
};

}  // namespace

JsonValue parse_json(std::string_view text, JsonError& error) {
  error = {};
  return Reader(text, error).document();
}

}  // namespace zarn

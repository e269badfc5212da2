#include "model/failure.hpp"

#include <cstdio>
#include <cstring>


namespace zarn {

namespace {

constexpr std::string_view kProgram = "zarn: ";

std::string joined(std::string_view place, std::string_view what) {
  std::string m;
  m.reserve(kProgram.size() + place.size() + what.size() + 1);
  m.append(kProgram).append(place).append(what).push_back('\n');
  return m;
}

}  // namespace

std::string shown_name(std::string_view file) {
  std::string shown;
  shown.reserve(file.size());
  for (const char ch : file) {
    const auto c = static_cast<unsigned char>(ch);
    if (c >= 0x20 && c != 0x7f) {
      shown += ch;
      continue;
    }
    static const char hex[] = "0123456789abcdef";
    shown += "\\x";
    shown += hex[c >> 4];
    shown += hex[c & 15];
  }
  return shown;
}

std::string compose(std::string_view what) { return joined({}, what); }

std::string compose(std::string_view file, std::string_view what) { return joined(shown_name(file) + ": ", what); }

std::string compose(std::string_view file, long line, std::string_view what) {
  return joined(shown_name(file) + ":" + std::to_string(line) + ": ", what);
}

std::string compose_at_byte(std::string_view file, std::uint64_t offset, std::string_view what) {
  return joined(shown_name(file) + ": byte " + std::to_string(offset) + ": ", what);
}

std::string compose_in_text(std::string_view file, std::string_view text, std::uint64_t offset, std::string_view what) {
  long line = 1, column = 1;
  for (std::uint64_t i = 0; i < offset && i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++line, column = 1;
    } else if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
      ++column;  // a character's first byte; its continuation bytes are the same character
    }
  }
  return joined(shown_name(file) + ":" + std::to_string(line) + ":" + std::to_string(column) + ": byte " + std::to_string(offset) + ": ", what);
}

std::string compose_at_time(std::string_view file, double seconds, std::string_view what) {
  char at[40];
  std::snprintf(at, sizeof at, "at %.6g s: ", seconds);
  return joined(shown_name(file) + ": " + at, what);
}

std::string stdout_failed(int error) { return compose(std::string("cannot write standard output: ") + std::strerror(error)); }

Failure system_failure(std::string_view file, int error, std::string_view what) {
  std::string text = what.empty() ? std::string() : std::string(what) + ": ";
  return Failure(compose(file, text + std::strerror(error)), FailureKind::kFileSystem, error);
}

std::string compose_warning(std::string_view what) { return joined("warning: ", what); }

std::string shown_bytes(double bytes) {
  static const char* const kUnits[] = {"bytes", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
  std::size_t unit = 0;
  double value = bytes;
  while (unit + 1 < sizeof kUnits / sizeof kUnits[0] && !(value < 1023.5)) value /= 1024, ++unit;
  char text[48];
  if (unit == 0)
    std::snprintf(text, sizeof text, "%.0f bytes", value);
  else if (!(value < 1023.5))  // beyond the largest unit
    std::snprintf(text, sizeof text, "%.3g %s", value, kUnits[unit]);
  else
    std::snprintf(text, sizeof text, "%.*f %s", value < 9.995 ? 2 : value < 99.95 ? 1 : 0, value, kUnits[unit]);
  return text;
}

std::string what_needs(std::string_view what) {
  std::string_view head = what.substr(0, 4) == "the " ? what.substr(4) : what;
  head = head.substr(0, head.find(' '));
  const bool many = head.size() > 1 && head.back() == 's' && head != "analysis";
  return std::string(what) + (many ? " need" : " needs");
}

std::string quote(std::string_view token) {
  constexpr std::size_t kShown = 60;
  std::string q = "\"";
  for (std::size_t i = 0; i < token.size() && i < kShown; ++i) {
    const unsigned char c = static_cast<unsigned char>(token[i]);
    if (c < 0x20 || c >= 0x7f || c == '"' || c == '\\') {
      static const char hex[] = "0123456789abcdef";
      q += "\\x";
      q += hex[c >> 4];
      q += hex[c & 15];
    } else {
      q += static_cast<char>(c);
    }
  }
  if (token.size() > kShown) q += "...";
  q += '"';
  return q;
}

}  // namespace zarn

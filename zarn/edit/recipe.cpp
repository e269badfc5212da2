#include "edit/recipe.hpp"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "io/json.hpp"
#include "model/failure.hpp"

namespace zarn {

namespace {

using Op = RecipeEdit::Op;

struct OpRow {
  Op op;
  const char* name;
  const char* value;  // the member that holds its number; null for none
};

constexpr OpRow kOps[] = {
    {Op::kDelete, "delete", nullptr}, {Op::kKeep, "keep", nullptr},          {Op::kTranspose, "transpose", "cents"},
    {Op::kShift, "shift", "seconds"}, {Op::kStretch, "stretch", "factor"}, {Op::kGain, "gain", "db"},
};

const OpRow& row_of(Op op) {
  for (const OpRow& row : kOps)
    if (row.op == op) return row;
  return kOps[0];
}

// Reads the recipe's tree; every refusal names the byte of the value refused.
class Interpreter {
 public:
  Interpreter(const std::string& file, std::string_view text) : file_(file), text_(text) {}

  [[noreturn]] void refuse(const JsonValue& at, const std::string& what) const {
    throw Failure(compose_in_text(file_, text_, at.offset(), what));
  }

  JsonValue need(const JsonValue& object, const char* name, JsonValue::Kind kind, const char* of) const {
    JsonValue v = object;
    if (!object.member(name, v)) refuse(object, std::string(of) + " has no \"" + name + "\"");
    if (v.kind() != kind) refuse(v, std::string("\"") + name + "\" of " + of + " must be " + json_kind_name(kind));
    return v;
  }

  double number(const JsonValue& object, const char* name, const char* of) const {
    return need(object, name, JsonValue::Kind::kNumber, of).number();
  }

  Recipe recipe(const JsonValue& root) const {
    if (root.kind() != JsonValue::Kind::kObject) refuse(root, "a recipe is a JSON object, not " + std::string(json_kind_name(root.kind())));
    JsonValue tag = root;
    if (!root.member("zarn", tag) || tag.kind() != JsonValue::Kind::kString || tag.text() != "recipe")
      refuse(tag, "not a recipe: it lacks \"zarn\": \"recipe\"");
    const JsonValue version = need(root, "version", JsonValue::Kind::kNumber, "the recipe");
    if (version.number() != 1) refuse(version, "a recipe of version " + shown(version.number()) + ", which this zarn does not know (it knows 1)");
    Recipe r;
    const JsonValue input = need(root, "input", JsonValue::Kind::kObject, "the recipe");
    JsonValue name = input;
    if (input.member("name", name) && name.kind() == JsonValue::Kind::kString) r.input = std::string(name.text());
    const JsonValue partials = need(input, "partials", JsonValue::Kind::kNumber, "the recipe's input");
    if (!(partials.number() >= 0 && partials.number() <= 2147483647.0 && partials.written_whole()))
      refuse(partials, "the recipe's input must hold a whole number of partials, not " + shown(partials.number()));
    r.partials = static_cast<long long>(partials.number());
    r.fingerprint = std::string(need(input, "fingerprint", JsonValue::Kind::kString, "the recipe's input").text());
    const JsonValue edits = need(root, "edits", JsonValue::Kind::kArray, "the recipe");
    r.edits.reserve(edits.size());
    std::size_t number_of = 0;
    for (const JsonValue e : edits) r.edits.push_back(edit(e, ++number_of, r.partials));
    return r;
  }

 private:
  static std::string shown(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
  }

  RecipeEdit edit(const JsonValue& e, std::size_t number_of, long long partials) const {
    const std::string of = "edit " + std::to_string(number_of);
    if (e.kind() != JsonValue::Kind::kObject) refuse(e, of + " must be an object, not " + json_kind_name(e.kind()));
    const JsonValue name = need(e, "op", JsonValue::Kind::kString, of.c_str());
    const OpRow* row = nullptr;
    for (const OpRow& r : kOps)
      if (name.text() == r.name) row = &r;
    if (row == nullptr) refuse(name, of + ": unknown op " + quote(name.text()) + " (delete, keep, transpose, shift, stretch or gain)");
    RecipeEdit edit;
    edit.op = row->op;
    if (row->value != nullptr) edit.value = number(e, row->value, (of + " (" + row->name + ")").c_str());
    if (edit.op == Op::kStretch) {
      edit.about = number(e, "about", (of + " (stretch)").c_str());
      if (!(edit.value > 0)) refuse(need(e, "factor", JsonValue::Kind::kNumber, of.c_str()), of + ": a stretch's factor must be above zero, not " + shown(edit.value));
    }
    const JsonValue list = need(e, "partials", JsonValue::Kind::kArray, of.c_str());
    edit.partials.reserve(list.size());
    for (const JsonValue p : list) {
      // An index is written as a whole number: 1e-400 or 0.99999999999999999999 read as 0 or 1 would name a partial not meant.
      if (p.kind() != JsonValue::Kind::kNumber || !p.written_whole() || p.number() < 0 || p.number() >= static_cast<double>(partials))
        refuse(p, of + ": no partial " + (p.kind() == JsonValue::Kind::kNumber ? shown_index(p) : json_kind_name(p.kind())) + " among the " +
                      std::to_string(partials) + " the recipe was made for (indices count from 0)");
      const int index = static_cast<int>(p.number());
      if (!edit.partials.empty() && index <= edit.partials.back()) refuse(p, of + ": its partials must be listed once each, rising");
      edit.partials.push_back(index);
    }
    return edit;
  }

  // An index as written where it can be told (a whole number), else as read.
  static std::string shown_index(const JsonValue& p) {
    if (p.written_whole() && std::fabs(p.number()) < 1e15) return std::to_string(static_cast<long long>(p.number()));
    return shown(p.number()) + (p.written_whole() ? "" : " (not written as a whole number)");
  }

  const std::string& file_;
  std::string_view text_;  // the recipe's text, for the line and column of a refusal
};

// FNV-1a over 64 bits.
struct Hash {
  std::uint64_t h = 0xcbf29ce484222325ull;
  void bytes(std::uint64_t v) {
    for (int i = 0; i < 8; ++i) h = (h ^ ((v >> (8 * i)) & 0xff)) * 0x100000001b3ull;
  }
  void number(double v) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    bytes(bits);
  }
};

// A partial as people count them, from 1, and as the recipe names it, by index from 0.
std::string partial_named(int index) { return "partial " + std::to_string(index + 1) + " (index " + std::to_string(index) + ")"; }

}  // namespace

Recipe parse_recipe(std::string_view text, const std::string& file) {
  JsonError error;
  const JsonDocument doc = parse_json(text, error);
  if (!error.what.empty()) throw Failure(compose_in_text(file, text, error.offset, "not a recipe: " + error.what));
  return Interpreter(file, text).recipe(doc.root());
}

std::string fingerprint(const PartialSet& set) {
  Hash hash;
  hash.bytes(set.partials.size());
  for (const Partial& part : set.partials) {
    hash.bytes(part.time.size());
    for (std::size_t j = 0; j < part.time.size(); ++j) {
      hash.number(part.time[j]);
      hash.number(part.freq[j]);
      hash.number(part.amp[j]);
    }
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash.h));
  return text;
}

void apply_recipe(PartialSet& set, const Recipe& recipe, const std::string& file) {
  const std::string here = fingerprint(set);
  if (recipe.partials != static_cast<long long>(set.partials.size()) || recipe.fingerprint != here)
    throw failure(file, "this recipe was made for other partials (" + std::to_string(recipe.partials) + " partials, fingerprint " +
                            recipe.fingerprint + (recipe.input.empty() ? "" : ", from " + shown_name(recipe.input)) + "), not for these (" +
                            std::to_string(set.partials.size()) + " partials, fingerprint " + here +
                            "): replay it on the input, and with the options, that the page was made from");
  std::vector<char> deleted(set.partials.size(), 0), moved(set.partials.size(), 0);
  for (std::size_t e = 0; e < recipe.edits.size(); ++e) {
    const RecipeEdit& edit = recipe.edits[e];
    const std::string of = "edit " + std::to_string(e + 1) + " (" + row_of(edit.op).name + ")";
    for (int p : edit.partials)
      if (deleted[static_cast<std::size_t>(p)])
        throw failure(file, of + " names " + partial_named(p) + ", which an edit before it deleted");
    if (edit.op == Op::kKeep) {
      std::vector<char> listed(set.partials.size(), 0);
      for (int p : edit.partials) listed[static_cast<std::size_t>(p)] = 1;
      for (std::size_t p = 0; p < deleted.size(); ++p)
        if (!listed[p]) deleted[p] = 1;
      continue;
    }
    if (edit.op == Op::kDelete) {
      for (int p : edit.partials) deleted[static_cast<std::size_t>(p)] = 1;
      continue;
    }
    const double factor = edit.op == Op::kTranspose ? std::pow(2.0, edit.value / 1200.0)
                          : edit.op == Op::kGain    ? std::pow(10.0, edit.value / 20.0)
                                                    : 0.0;
    for (int p : edit.partials) {
      Partial& part = set.partials[static_cast<std::size_t>(p)];
      if (edit.op != Op::kGain) moved[static_cast<std::size_t>(p)] = 1;
      const auto wrong = [&](const char* what) {
        return failure(file, of + " would leave " + partial_named(p) + " with " + what);
      };
      for (std::size_t j = 0; j < part.time.size(); ++j) {
        switch (edit.op) {
          case Op::kTranspose: {
            const bool above_zero = part.freq[j] > 0;
            part.freq[j] = part.freq[j] * factor;
            if (!std::isfinite(part.freq[j])) throw wrong("a frequency that is not a finite number");
            if (above_zero && !(part.freq[j] > 0)) throw wrong("a frequency of 0 Hz, which no format holds");
            break;
          }
          case Op::kGain:
            part.amp[j] = part.amp[j] * factor;
            if (!std::isfinite(part.amp[j])) throw wrong("an amplitude that is not a finite number");
            break;
          case Op::kShift:
            part.time[j] = part.time[j] + edit.value;
            break;
          case Op::kStretch:
            part.time[j] = edit.about + (part.time[j] - edit.about) * edit.value;
            break;
          default:
            break;
        }
        if (edit.op == Op::kShift || edit.op == Op::kStretch) {
          if (!(part.time[j] >= 0) || !std::isfinite(part.time[j])) throw wrong("a time before 0 s, or not a finite number");
          if (j > 0 && !(part.time[j] > part.time[j - 1])) throw wrong("times that no longer rise");
        }
      }
    }
  }
  // Gains keep the phases measured; partials moved in time or pitch make theirs anew.
  for (std::size_t p = 0; p < set.partials.size(); ++p)
    if (moved[p]) phase_from_frequencies(set.partials[p]);
  std::size_t kept = 0;
  for (std::size_t p = 0; p < set.partials.size(); ++p)
    if (!deleted[p]) {
      if (kept != p) set.partials[kept] = std::move(set.partials[p]);
      ++kept;
    }
  set.partials.resize(kept);
}

}  // namespace zarn

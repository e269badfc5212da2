// A recipe: edits of chosen partials, each naming the partials it applies to by their index
// among the partials it was made for, as the browser page records them and the tool
// (--edits=FILE) and the Python module replay them. It is JSON:
//   {"zarn": "recipe", "version": 1,
//    "input": {"name": "in.txt", "partials": 3, "fingerprint": "0123456789abcdef"},
//    "edits": [{"op": "transpose", "cents": -150, "partials": [0, 2]},
//              {"op": "stretch", "factor": 1.5, "about": 0.25, "partials": [1]}, ...]}
// The operations: delete, keep (every other partial deleted), transpose (cents), shift
// (seconds), stretch (factor, about a time) and gain (dB). A partial keeps its index when
// others are deleted; the partials left keep their order.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "model/partials.hpp"

namespace zarn {

/// One edit of a recipe.
struct RecipeEdit {
  enum class Op { kDelete, kKeep, kTranspose, kShift, kStretch, kGain };
  Op op = Op::kDelete;
  double value = 0;  // cents, seconds, the factor or decibels
  double about = 0;  // the time a stretch is about
  std::vector<int> partials;  // indices among the partials the recipe was made for, rising
};

/// A recipe as read.
struct Recipe {
  std::string input;  // the name of the input it was made on, for messages
  long long partials = 0;
  std::string fingerprint;
  std::vector<RecipeEdit> edits;
};

/// The recipe in `text`; throws Failure naming `file` and the byte of what it refuses.
Recipe parse_recipe(std::string_view text, const std::string& file);

/// Sixteen hexadecimal digits that tell one set of partials from another: a hash of their
/// number and every breakpoint's bits.
std::string fingerprint(const PartialSet& set);

/// Replays the recipe (read from `file`) on the set, which must be the partials it was made
/// for; throws Failure naming the file where it is not, or where an edit would leave a time
/// below 0, not finite or not rising, or a frequency or amplitude not finite.
void apply_recipe(PartialSet& set, const Recipe& recipe, const std::string& file);

}  // namespace zarn

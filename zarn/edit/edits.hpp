// Edits of the partials as read, between reading and laying the grid, as two tables: the
// edits (each a module of its own, a function from one set of partials to the next, applied
// in the table's order when the options choose it) and the options that set them (each with
// its argument, its help and its own parsing). The command line, the help and the checks of
// the man page take the options from the table: a new edit is a module and its rows.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "edit/formants.hpp"
#include "edit/harmonic.hpp"
#include "edit/keep.hpp"
#include "edit/morph.hpp"
#include "edit/noise_gain.hpp"
#include "edit/recipe.hpp"
#include "edit/scale.hpp"
#include "edit/shape.hpp"
#include "model/partials.hpp"

namespace zarn {

/// One change of the partials as read.
using Edit = std::function<void(PartialSet&)>;

/// Applies `edits` to the set, in order.
void apply_edits(PartialSet& set, const std::vector<Edit>& edits);

/// What the edit options ask for, every edit's own.
struct EditOptions {
  KeepOptions keep;
  ScaleOptions scale;
  NoiseOptions noise;
  ShapeOptions shape;          // changes over time, maps of time, holds, attacks kept
  bool keep_formants = false;  // levels follow the envelope through --transpose
  bool harmonic = false;       // --harmonic: harmonic partials, labelled, joined
  MorphWeight morph;           // --morph: how far towards morph_with
  std::shared_ptr<const PartialSet> morph_with;  // --morph-with: the other sound's partials, as read
  std::vector<std::string> recipe_files;         // --edits: recipes to replay, last, in their order
  std::vector<std::string> curve_files;          // the files breakpoints were read from (@FILE), which no output may replace
  std::vector<std::shared_ptr<const Recipe>> recipes;  // the recipes of those files, as read
};

/// True when every edit the options choose changes one partial at a time (see EditRow).
bool edits_one_at_a_time(const EditOptions& options);

/// One edit: chosen when the options ask for any of it, applied to the partials read from
/// `file` (named in messages).
struct EditRow {
  std::string_view name;
  bool (*chosen)(const EditOptions& options);
  void (*apply)(PartialSet& set, const EditOptions& options, const std::string& file);
  bool changes = false;  // changes the values the filters judge: runs after them
  /// True where, as the options ask for it, it changes each partial on its own, and the input's
  /// noise and length, never weighing one partial against another: a run may apply it to each
  /// partial as it comes. Null: never.
  bool (*one_at_a_time)(const EditOptions& options) = nullptr;
};

/// One option of the edits: `--NAME=ARGUMENT`, its lines of help, the kind of its argument
/// (which the command line reads), and what sets the options from its figures or says what
/// is wrong with them (the message, without "zarn: ", naming the option as typed in `text`).
struct EditOption {
  enum class Kind { kNumber, kRange, kCount, kFlag, kCurve };  // a finite number; LO:HI; a whole number from 0; none; breakpoints
  std::string_view name, argument, help;
  Kind kind;
  std::string_view range_of;  // for a range: what its two numbers are ("frequencies in hertz")
  std::string (*set)(const double* figures, std::string_view text, EditOptions& options);
  /// Where a number's option also takes breakpoints (T:V,... or @FILE), and a curve: where
  /// they go (a curve of one value throughout is that number), and what each value must be.
  Curve ShapeOptions::*curve = nullptr;
  ValueRule rule = any_value;
  std::string (*check)(const Curve& curve) = nullptr;  // what is wrong with the curve as a whole
  double neutral = 0;  // the number that changes nothing, which a curve given after it replaces
};

/// The scaling as the edit of one number applies it: without --time-scale's number where
/// changes over time take it into their map of times.
ScaleOptions scale_of(const EditOptions& options);

/// Sets an option of `row` from breakpoints (T:V,... as typed, or a file's "T V" lines where
/// `in_file`): the curve where its value varies, else the one number it holds, each replacing
/// the other. Returns what is wrong with them (naming the breakpoint, and in a file its line),
/// else empty.
std::string set_breakpoints(const EditOption& row, std::string_view text, bool in_file, EditOptions& options);

/// What is wrong with the edit options together (a warp and a time factor, attacks kept with
/// no stretch), in the words of the command line; empty where nothing is.
std::string combination_problem(const EditOptions& options);

/// The options of the edits, in the order of the help.
const std::vector<EditOption>& edit_options();

/// The edits that the options choose, in the table's order, for the partials of `file`.
std::vector<Edit> chosen_edits(const EditOptions& options, const std::string& file);

/// How many of the chosen edits come before the changes: the filters and what they judge
/// (the partials as these leave them are what a filter given on the command line sees).
std::size_t chosen_before_changes(const EditOptions& options);

}  // namespace zarn

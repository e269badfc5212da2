// The options of a run's analysis, grid, picture, sound and fundamental as one table: each
// option's name, argument, help, what kind it is (shapes the partials, needs every partial,
// applies to sounds only, asks for an extra output) and its own parsing. The command line,
// the help, the page's command line, the plan's steps and the man page's check read it; a
// new option of these kinds is a row.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zarn {

struct Options;

/// What kind of option a row is, as flags.
enum OptionFlag : unsigned {
  kShapesPartials = 1,     // shapes the partials: the page's command line keeps it
  kNeedsEveryPartial = 2,  // the run cannot take its partials one at a time
  kSoundsOnly = 4,         // applies to a sound's analysis: refused for any other input
  kExtraOutput = 8,        // names an output besides the result
};

/// One option: --NAME[=ARGUMENT] (ARGUMENT optional where `optional` is set), and `short_name`
/// where it has one.
struct OptionRow {
  std::string_view name;
  char short_name;       // 0 for none
  std::string_view argument;  // empty: the option takes none
  bool optional;         // the argument may be left out (--normalize)
  std::string_view help; // its help; empty where --help says it in words of its own
  unsigned flags;        // OptionFlag
  /// Sets the options from the argument as typed (null where none was given); throws the
  /// Failure of a bad option.
  void (*take)(const char* text, Options& options);
  std::string_view group;  // the help's section: "result", "analysis", "outputs"
};

/// Every row, in the order of the help.
const std::vector<OptionRow>& option_rows();

namespace detail {

/// Throws the Failure of a bad option: the message, then "Try 'zarn --help' ...".
[[noreturn]] void bad_option(const std::string& what);

/// The value of --NAME that takes a finite number; throws bad_option's Failure.
double finite_number(const std::string& name, const char* text);

/// The value of --NAME that takes two numbers LO:HI (`what` they are); throws bad_option's Failure.
std::pair<double, double> number_pair(const std::string& name, const char* what, std::string_view text);

}  // namespace detail

}  // namespace zarn

// Values that vary over time: breakpoints (time, value), straight lines between them and the
// end values held beyond them, as a transposition, a gain or a time factor that changes over
// the input's time. They are typed as T:V,T:V,... or read from a file of one "T V" a line.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zarn {

/// A value over time; empty where none was given.
struct Curve {
  std::vector<double> times, values;  // times rising

  /// True where no breakpoint was given.
  bool empty() const { return times.empty(); }
  /// The value at `time`: between breakpoints in proportion, the ends' beyond them.
  double at(double time) const;
  /// True where every breakpoint holds the same value (or there are none).
  bool constant() const;
};

/// What a breakpoint's value must be: empty when it may be taken, else what is wrong with it.
/// `previous` is the value before it (null for the first).
using ValueRule = std::string (*)(double value, const double* previous);

/// Any finite value.
std::string any_value(double value, const double* previous);
/// A value above zero.
std::string above_zero(double value, const double* previous);
/// A value above the one before it.
std::string rising_value(double value, const double* previous);

/// True for a text that is a curve rather than one number: it holds ':' or begins with '@'.
bool is_curve_text(std::string_view text);

/// The breakpoints of "T:V,T:V,..." (in_file false) or of a file's text, one "T V" a line
/// with blank lines and lines from '#' passed over (in_file true), times rising and each value
/// as `rule` says. On a fault, returns an empty curve and sets `problem` to what names the
/// breakpoint by its number and its text (and, from a file, its line: "LINE: ").
Curve parse_curve(std::string_view text, bool in_file, ValueRule rule, std::string& problem);

}  // namespace zarn

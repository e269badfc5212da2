// The text and the ticks of a picture's markup: XML-escaped text, and round tick values on
// linear and logarithmic axes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zarn {

namespace detail {

/// Round values (1, 2 or 5 times a power of ten apart) within [lo, hi], about `target` of them.
std::vector<double> linear_ticks(double lo, double hi, int target);

/// 1, 2 and 5 times each power of ten within [lo, hi] (lo > 0); linear ticks if that gives too few.
std::vector<double> log_ticks(double lo, double hi);

/// Text with &, <, > and " written as XML entities.
std::string xml_escape(std::string_view text);

/// The length of the valid UTF-8 sequence of more than one byte that starts `s`; 0 for none.
std::size_t utf8_length(std::string_view s);

}  // namespace detail

}  // namespace zarn

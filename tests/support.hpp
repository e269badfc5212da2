// Helpers that the in-process tests share.
#pragma once

#include <string>
#include <vector>

#include "partial_file.hpp"

namespace zarn_test {

/// The message of the Failure that reading `bytes` (as a file named `name`) throws, or "accepted".
std::string rejection(const std::string& bytes, const std::string& name);

/// A partial's input breakpoints as (time, frequency, linear amplitude) triples.
std::vector<std::vector<double>> points(const zarn::Partial& part);

}  // namespace zarn_test

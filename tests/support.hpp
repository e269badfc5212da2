// Helpers that the in-process tests share.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/formats.hpp"
#include "formats/partial_file.hpp"

namespace zarn_test {

/// The message of the Failure that reading `bytes` (as a file named `name`) throws, or "accepted".
std::string rejection(const std::string& bytes, const std::string& name);

/// The same, read with the given options.
std::string rejection_with(const std::string& bytes, const std::string& name, const zarn::ReadOptions& options);

/// The bits of a double, to compare values bit for bit.
std::uint64_t bits(double v);

/// A partial's input breakpoints as (time, frequency, linear amplitude) triples.
std::vector<std::vector<double>> points(const zarn::Partial& part);

}  // namespace zarn_test

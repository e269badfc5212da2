// Helpers that the in-process tests share.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/options.hpp"
#include "fit/resample.hpp"
#include "formats/formats.hpp"
#include "formats/partial_file.hpp"

namespace zarn_test {

/// The message of the Failure that reading `bytes` (as a file named `name`) throws, or "accepted".
std::string rejection(const std::string& bytes, const std::string& name);

/// The same, read with the given options.
std::string rejection_with(const std::string& bytes, const std::string& name, const zarn::ReadOptions& options);

/// The options of a command line, `args` after the program's name.
zarn::Options parse(std::vector<std::string> args);

/// The bits of a double, to compare values bit for bit.
std::uint64_t bits(double v);

/// A partial's input breakpoints as (time, frequency, linear amplitude) triples.
std::vector<std::vector<double>> points(const zarn::Partial& part);

/// A sound of `seconds` at `rate` whose partials follow the given frequencies (Hz, of the time)
/// at the given amplitudes, each phase the sum of its frequency at the middle of each sample.
std::vector<double> tone(double rate, double seconds, const std::vector<std::pair<std::function<double(double)>, double>>& partials);

/// The grids of a run, planned and laid as the run lays them: each partial's own, on to its
/// last breakpoint, or the aligned one.
zarn::ResampledSet lay_grid(const zarn::PartialSet& set, double step, const std::string& file);
zarn::ResampledSet lay_whole_grid(const zarn::PartialSet& set, double step, const std::string& file);
zarn::ResampledSet lay_aligned_grid(const zarn::PartialSet& set, double step, const std::string& file);

}  // namespace zarn_test

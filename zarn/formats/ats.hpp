// ATS files, as csound's atsa writes them and its ATS opcodes read them: 64-bit floats in the
// writer's byte order, a header of ten values (123.0, sampling rate, frame size, window size,
// partials, frames, largest amplitude, largest frequency, duration, type), then the frames:
// each its time, then for every partial (a column) its amplitude and frequency (types 1 and
// 3) and phase (types 2 and 4), then for types 3 and 4 the energies of 25 noise bands.
//
// A column is present in a frame where its amplitude is above zero; each run of frames in
// which it is present is one partial.
#pragma once

#include <string_view>

#include "io/output.hpp"
#include "model/partials.hpp"
#include "io/tokens.hpp"

namespace zarn {

/// True when a file starts with 123.0 as a 64-bit float in either byte order.
bool is_ats(std::string_view start);

/// Reads every partial: each column's runs of frames with amplitude above zero, numbered by
/// first appearance (time, then column). Throws Failure naming the file and byte offset.
PartialSet read_ats(Input& in);

/// Reads as read_ats does, handing each partial to `sink` in the same order as its last frame
/// is read, in memory that follows the partials under way rather than the file; returns the
/// input without its partials (its noise included), whose format `input` names.
PartialSet read_ats_each(Input& in, PartialSet input, PartialSink& sink);

/// Writes the resampled set, laid on the aligned grid, as an ATS file of type 2 at `rate`:
/// a frame for every grid time from 0 (or the first, if earlier) to the last, partials that do
/// not overlap sharing a column with a silent frame between them, as few columns as that
/// allows. A point whose fitted amplitude is zero or below is written with the smallest
/// positive double, so that it does not end its partial; read_ats reads that back as 0.
void write_ats(Output& out, const ResampledSet& set, int rate);

/// The largest ATS file written, in bytes: its frames run from time 0, so a partial late in
/// time would otherwise fill a disk with silent frames.
constexpr double kMaxAtsBytes = 4294967296.0;

/// The size in bytes of the ATS file that write_ats makes of `set`, found without making it.
double ats_bytes(const ResampledSet& set);

/// Throws Failure when `set` holds what an ATS file cannot (figures that are not finite), or
/// would make one larger than kMaxAtsBytes, before anything is written.
void check_ats(const ResampledSet& set);

}  // namespace zarn

// SDIF files of sinusoidal (1TRC) and harmonic (1HRM) tracks: big-endian frames, each a time,
// a stream and matrices whose rows are (index, frequency, linear amplitude, phase, ...).
//
// A partial is one index of one stream through consecutive frames of that stream: a frame of
// the stream that lacks the index ends it, and a later row with the same index starts a new
// partial.
#pragma once

#include <string_view>

#include "model/partials.hpp"
#include "io/output.hpp"
#include "io/tokens.hpp"

namespace zarn {

/// The first eight bytes of every SDIF file: the signature and the header's size, 8.
constexpr std::string_view kSdifMagic{"SDIF\0\0\0\x08", 8};

/// Reads the partials of the track matrices of track frames; every other frame and matrix is
/// passed over by its size. Throws Failure naming the file and the byte offset of any fault.
PartialSet read_sdif(Input& in);

/// Writes the resampled set, laid on the aligned grid, as an SDIF file: a name-value table
/// naming `written_by`, then at each grid time that holds any partial one frame for each
/// stream and track type present (a partial keeps the stream and type it was read with: 1TRC
/// on stream 0 for partials of other formats), with one row per partial: its index (its
/// harmonic number in 1HRM, else its place in the set from 1), frequency, amplitude (0 where
/// the fit took it below zero) and running phase, as 32-bit floats. Two harmonic partials of
/// one number with no frame of their stream between them are parted by an empty frame halfway
/// between, or, where another partial goes on across, the later one goes to a stream of its
/// own numbered after the set's.
void write_sdif(Output& out, const ResampledSet& set, std::string_view written_by);

}  // namespace zarn

// SDIF files of sinusoidal (1TRC) and harmonic (1HRM) tracks: big-endian frames, each a time,
// a stream and matrices whose rows are (index, frequency, linear amplitude, phase, ...).
//
// A partial is one index of one stream through consecutive frames of that stream: a frame of
// the stream that lacks the index ends it, and a later row with the same index starts a new
// partial.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "model/partials.hpp"
#include "io/output.hpp"
#include "io/spool.hpp"
#include "io/tokens.hpp"

namespace zarn {

/// The first eight bytes of every SDIF file: the signature and the header's size, 8.
constexpr std::string_view kSdifMagic{"SDIF\0\0\0\x08", 8};

/// Reads the partials of the track matrices of track frames; every other frame and matrix is
/// passed over by its size. Throws Failure naming the file and the byte offset of any fault.
PartialSet read_sdif(Input& in);

/// Reads as read_sdif does, handing each partial to `sink` in the same order as its last row
/// is read, in memory that follows the partials under way rather than the file; returns the
/// input without its partials, whose format `input` names.
PartialSet read_sdif_each(Input& in, PartialSet input, PartialSink& sink);

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


/// Throws Failure naming the first partial and figure that an SDIF file cannot hold (beyond
/// single precision, or not finite), before anything is written.
void check_sdif_figures(const ResampledSet& set);
/// The same for one partial, the p-th (from 0).
void check_sdif_partial(const Resampled& part, std::size_t p);

/// The same file made from partials that come one at a time, for partials as a partial list
/// holds them (1TRC on stream 0, each numbered by its place), laid on the aligned grid: each
/// partial's points are set aside in a spool as it comes, and read back frame by frame, so
/// that memory follows the partials under way at once, however many there are in all. The same
/// bytes as write_sdif.
class SdifFrameStream {
 public:
  SdifFrameStream(std::string_view written_by, double step) : written_by_(written_by), step_(step) {}
  /// Takes the next partial (from the first), laid on the aligned grid and fitted.
  void take(const Resampled& part);
  /// Writes the file. Throws Failure where SDIF cannot number the partials, or the spool fails.
  void write(Output& out);

 private:
  struct Laid {
    long long first_k;
    int points;
    std::uint64_t at;  // of its points in the spool: frequency and amplitude (and phase), point by point
    bool phased;       // it holds its phases
  };
  std::string written_by_;
  double step_;
  std::vector<Laid> laid_;
  std::vector<double> points_;  // of the partial at hand, before the spool takes them
  Spool spool_;
};

}  // namespace zarn

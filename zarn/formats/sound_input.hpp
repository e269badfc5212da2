// Sound files as input: recognised from their first bytes, decoded with libsndfile block by
// block, their channels mixed to one (or one chosen), and analysed into partials as they
// stream, so that memory follows the partials found, not the sound's length.
#pragma once

#include <cstddef>
#include <functional>
#include <string_view>

#include "analysis/analysis.hpp"
#include "model/partials.hpp"
#include "io/tokens.hpp"

namespace zarn {

/// True when a file starts as a sound file that libsndfile decodes does: WAV, RF64, Wave64,
/// AIFF, FLAC, Ogg, CAF, MP3, Sun/NeXT, IRCAM, NIST, VOC, PAF, 8SVX, MAT5, PVF, XI, AVR, SDS or
/// WVE.
bool is_sound(std::string_view start);

/// What a sound file is read with.
struct SoundOptions {
  AnalysisOptions analysis;
  int channel = 0;  // 1-based; 0 mixes every channel to one, their mean
  bool spectrogram = false;  // also make the sound's spectrogram, for the page
  /// Where given, handed the samples analysed (one channel, or the mean), block by block.
  std::function<void(const double* samples, std::size_t n)> samples_seen;
};

/// Analyses the sound file that `in` holds into partials. Throws Failure naming the file when
/// it cannot be decoded, has no channels or no rate, lacks the channel asked for, or this
/// build has no libsndfile or no FFTW.
PartialSet read_sound(Input& in, const SoundOptions& options);

}  // namespace zarn

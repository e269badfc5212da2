// Sound files: mono, in the container that the name's ending chooses, at the depth asked for
// (32-bit float by default, 24-bit integers in FLAC), with triangular dither for integer
// depths. WAV files are written here, so that the common readers take them without a warning;
// the other containers through libsndfile where the build has it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "io/output.hpp"
#include "io/save.hpp"

namespace zarn {

/// The depths a sound file's samples may have: integers of 16, 24 or 32 bits, or 32-bit floats.
enum class SampleDepth { kDefault, k16, k24, k32, kFloat };

/// The depth a name like "16", "24", "32" or "float" asks for; kDefault for any other.
SampleDepth depth_named(const std::string& name);

/// True when this build writes sound files in containers other than WAV.
bool have_sound_files();

/// Checks that `name` ("-": WAV on standard output) ends, in any case, in a container this
/// build writes (.wav, .aiff or .aif, .caf, .flac, .ogg, .opus), in the depth and at the rate
/// asked for; throws Failure saying what is possible otherwise.
void check_sound_file_name(const std::string& name, SampleDepth depth = SampleDepth::kDefault, int rate = 44100);

/// Throws Failure, before any sample is made, when a sound of `frames` samples at `rate` cannot
/// be saved whole under `name` ("-": WAV on standard output) in the depth asked: more than its
/// container's sizes hold (WAV and AIFF: 4 GiB of samples), none at all where the container
/// cannot be empty (AIFF, FLAC, Ogg, Opus), or more than the free space of the file's folder.
void check_sound_size(const std::string& name, double frames, int rate, SampleDepth depth);

/// What becomes of samples beyond full scale in the file `name`, for a warning.
std::string sound_file_peak_note(const std::string& name, SampleDepth depth = SampleDepth::kDefault);

/// Samples for a sound file, a block at a time: `length` in all, `next(out, n)` the next ones
/// (at most n; 0 at the end). It may throw Failure, and nothing is then saved.
struct SampleSource {
  long long length = 0;
  std::function<std::size_t(float*, std::size_t)> next;
};

/// The samples of a vector, which must outlive the source.
SampleSource samples_of(const std::vector<float>& samples);

/// The writer of the samples at `rate` as a sound file in the container that `name` chooses,
/// made a block at a time.
FdWriter sound_file_writer(const std::string& name, SampleSource source, int rate, SampleDepth depth = SampleDepth::kDefault);
/// The same for samples held in memory.
FdWriter sound_file_writer(const std::string& name, const std::vector<float>& samples, int rate,
                           SampleDepth depth = SampleDepth::kDefault);

/// The writer of the samples as a WAV file into an Output (standard output).
Writer wav_writer(SampleSource source, int rate, SampleDepth depth = SampleDepth::kDefault);

namespace detail {
/// A mono WAV file of the samples at `rate`: 32-bit float (format chunk of 18 bytes, fact
/// chunk) or 16/24/32-bit integers, dithered (TPDF) and clipped at full scale.
void put_wav(Output& out, const SampleSource& source, int rate, SampleDepth depth);
/// The same in 32-bit float, of samples held in memory.
inline void put_float_wav(Output& out, const std::vector<float>& samples, int rate) {
  put_wav(out, samples_of(samples), rate, SampleDepth::kFloat);
}
}  // namespace detail

}  // namespace zarn

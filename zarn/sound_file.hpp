// Sound files, written with libsndfile where the build has it: mono, 32-bit float (24-bit
// integer in FLAC, which holds no floats), in the container that the name's ending chooses.
#pragma once

#include <string>
#include <vector>

#include "save.hpp"

namespace zarn {

/// True when this build can write sound files.
bool have_sound_files();

/// Checks that `name` ends, in any case, in a container this build writes (.wav, .aiff or
/// .aif, .flac, .caf); throws Failure saying what is possible otherwise.
void check_sound_file_name(const std::string& name);

/// What becomes of samples beyond full scale in the file `name`, for a warning.
std::string sound_file_peak_note(const std::string& name);

/// The writer of `samples` at `rate` as a sound file in the container that `name` chooses.
FdWriter sound_file_writer(const std::string& name, const std::vector<float>& samples, int rate);

namespace detail {
/// A mono 32-bit float WAV file of `samples` at `rate`: format chunk of 18 bytes, fact chunk, data.
void put_float_wav(Output& out, const std::vector<float>& samples, int rate);
}  // namespace detail

}  // namespace zarn

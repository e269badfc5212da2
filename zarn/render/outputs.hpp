// The outputs beside the result: the picture (SVG or PNG) and the sound (any container, or
// WAV on standard output), each saved whole under the rules of saving, after the result.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "model/partials.hpp"
#include "render/page.hpp"
#include "render/plot.hpp"
#include "render/sound_file.hpp"
#include "render/voices.hpp"

namespace zarn {

/// What a failed picture or sound says of the result, which was saved before it under
/// `result` ("-": standard output).
std::string not_saved(const char* what, const std::string& result);

/// Draws the resampled set and its input breakpoints and saves the picture under `name`
/// (PNG for a name ending in .png, the browser page for .html, else SVG); replaces an existing
/// file only when `replacing`. Throws Failure saying that the result was saved in `result`.
void save_picture(const std::string& name, bool replacing, const ResampledSet& set, const PartialSet& read,
                  const PageOptions& picture, const std::string& result);

/// What the sound is asked to be.
struct SoundRequest {
  std::string name;                 // "-": WAV on standard output
  bool replacing = false;
  int rate = 44100;
  SampleDepth bits = SampleDepth::kDefault;
  std::optional<double> normalize;  // the peak asked for, in dB
  bool quiet = false;               // the note of --normalize's gain is not wanted
};

/// The recording analysed, `samples` samples at `rate`, less the sound of `sines` (its partials
/// at that rate, without noise), saved a block at a time as `sound` asks (its rate and name;
/// no normalising); `recording(out, n)` gives its next n samples. The sound of the partials
/// saved as floats and this add up to the recording. Throws Failure saying that the result
/// was saved in `result`.
void save_residual(const SoundRequest& sound, const ResampledSet& sines, long long samples,
                   const std::function<void(double* out, std::size_t n)>& recording, const std::string& result);

/// Makes the sound of the set a block at a time and saves it; warnings and notes go to
/// `report`. Throws Failure saying that the result was saved in `result`.
void save_sound(const SoundRequest& sound, const ResampledSet& set, const std::string& result,
                const std::function<void(const std::string&)>& report);
/// The same of the partials a source gives, of which `at_half_rate` reach half the rate.
void save_sound(const SoundRequest& sound, VoiceSource& voices, int at_half_rate, const std::string& result,
                const std::function<void(const std::string&)>& report);

}  // namespace zarn

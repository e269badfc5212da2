#include "render/outputs.hpp"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "io/save.hpp"
#include "model/failure.hpp"
#include "render/png.hpp"
#include "render/sound.hpp"

namespace zarn {

std::string not_saved(const char* what, const std::string& result) {
  return std::string("the ") + what + " was not saved; the result was, " +
         (result == "-" ? std::string("on standard output") : "in " + result);
}

void save_picture(const std::string& name, bool replacing, const ResampledSet& set, const PartialSet& read,
                  const PageOptions& picture, const std::string& result) {
  const PlotOptions& plot = picture.plot;
  if (is_page_name(name)) {
    save_as(name, replacing, through_output([&](Output& out) { write_page(out, set, read, picture); }), not_saved("picture", result));
  } else if (is_png_name(name)) {
    std::string svg;
    {
      Output out(&svg);
      write_plot(out, set, &read, plot);
      out.flush();
    }
    save_as(name, replacing, png_writer(svg), not_saved("picture", result));
  } else {
    save_as(name, replacing, through_output([&](Output& out) { write_plot(out, set, &read, plot); }), not_saved("picture", result));
  }
}

void save_sound(const SoundRequest& sound, const ResampledSet& set, const std::string& result,
                const std::function<void(const std::string&)>& report) {
  SetVoices voices(set);
  save_sound(sound, voices, partials_at_half_rate(set, sound.rate), result, report);
}

void save_residual(const SoundRequest& sound, const ResampledSet& sines, long long samples,
                   const std::function<void(double*, std::size_t)>& recording, const std::string& result) {
  SoundStream stream(sines, sound.rate);
  std::vector<double> x;
  long long done = 0;
  const SampleSource source{samples, [&](float* out, std::size_t n) {
                              const auto count = static_cast<std::size_t>(std::min<long long>(static_cast<long long>(n), samples - done));
                              // The partials' samples as the sound file of them holds them (floats),
                              // so that the two files add up to the recording; none past their end.
                              const std::size_t made = stream.next(out, count);
                              std::fill(out + made, out + count, 0.0f);
                              x.resize(count);
                              recording(x.data(), count);
                              for (std::size_t i = 0; i < count; ++i) out[i] = static_cast<float>(x[i] - static_cast<double>(out[i]));
                              done += static_cast<long long>(count);
                              return count;
                            }};
  save_as(sound.name, sound.replacing, sound_file_writer(sound.name, source, sound.rate, sound.bits), not_saved("residual", result));
}

void save_sound(const SoundRequest& sound, VoiceSource& voices, int at_half_rate, const std::string& result,
                const std::function<void(const std::string&)>& report) {
  if (const int high = at_half_rate)
    report(compose_warning(sound.name + ": " + std::to_string(high) + (high == 1 ? " partial reaches" : " partials reach") +
                           " half the sample rate (" + std::to_string(sound.rate / 2) + " Hz) or above, where the sound leaves it out"));
  const std::string beyond = "the sound's samples go beyond what a sound file holds (levels far above 0 dB); " + not_saved("sound", result);
  // The sound is made a block at a time as it is written; --normalize first finds its peak
  // in a pass of its own.
  double gain = 1;
  bool silent = false;
  if (sound.normalize) {
    SoundStream probe(voices, sound.rate);
    std::vector<float> block(1 << 14);
    while (probe.next(block.data(), block.size()) > 0) {
    }
    if (!std::isfinite(probe.peak())) throw failure(sound.name, beyond);
    silent = probe.peak() == 0;
    if (!silent) gain = std::pow(10.0, *sound.normalize / 20.0) / probe.peak();
  }
  SoundStream stream(voices, sound.rate);
  const SampleSource source{stream.length(), [&](float* out, std::size_t n) {
                              const std::size_t got = stream.next(out, n);
                              if (!std::isfinite(stream.peak())) throw failure(sound.name, beyond);
                              if (gain != 1)
                                for (std::size_t i = 0; i < got; ++i) out[i] = static_cast<float>(static_cast<double>(out[i]) * gain);
                              return got;
                            }};
  if (sound.name == "-") {
    const SaveOutcome saved = save_to_fd(STDOUT_FILENO, wav_writer(source, sound.rate, sound.bits));
    if (!saved.written())
      throw Failure(compose(std::string("cannot write the sound to standard output: ") + std::strerror(saved.error) + "; " +
                            not_saved("sound", result)),
                    FailureKind::kFileSystem, saved.error);
  } else {
    save_as(sound.name, sound.replacing, sound_file_writer(sound.name, source, sound.rate, sound.bits), not_saved("sound", result));
  }
  if (sound.normalize && silent) {
    report(compose_warning(sound.name + ": the sound is silent, so --normalize leaves it as it is"));
  } else if (sound.normalize) {
    char text[96];
    std::snprintf(text, sizeof text, ": normalized by %+.2f dB, to a peak of %g dB", 20 * std::log10(gain), *sound.normalize);
    if (!sound.quiet || sound.name == "-") report(compose(sound.name + text));
  } else if (stream.peak() > 1.0) {
    char value[32];
    std::snprintf(value, sizeof value, "%.6g", stream.peak());
    report(compose_warning(sound.name + ": the sound peaks at " + value + ", beyond full scale (1.0); " +
                           sound_file_peak_note(sound.name, sound.bits)));
  }
}

}  // namespace zarn

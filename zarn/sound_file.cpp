#include "sound_file.hpp"

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "failure.hpp"

#ifdef ZARN_HAVE_SNDFILE
#include <sndfile.h>
#endif

namespace zarn {

namespace {

struct Container {
  std::string_view ending;  // matched whatever its case
  int format;  // libsndfile's major format and encoding; 0 where the build has no libsndfile
  bool floats;  // holds samples beyond full scale as they are; else they are clipped
};

#ifdef ZARN_HAVE_SNDFILE
// WAV files are written here (see write_float_wav); the others through libsndfile.
const Container kContainers[] = {
    {".wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, true},   {".aiff", SF_FORMAT_AIFF | SF_FORMAT_FLOAT, true},
    {".aif", SF_FORMAT_AIFF | SF_FORMAT_FLOAT, true},    {".caf", SF_FORMAT_CAF | SF_FORMAT_FLOAT, true},
    {".flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, false},
};
#else
const Container kContainers[] = {{".wav", 0, true}, {".aiff", 0, true}, {".aif", 0, true}, {".caf", 0, true}, {".flac", 0, false}};
#endif

bool ends_with_any_case(std::string_view name, std::string_view ending) {
  if (name.size() <= ending.size()) return false;
  const std::string_view tail = name.substr(name.size() - ending.size());
  for (std::size_t i = 0; i < ending.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(tail[i])) != ending[i]) return false;
  return true;
}

const Container* container_of(std::string_view name) {
  for (const Container& c : kContainers)
    if (ends_with_any_case(name, c.ending)) return &c;
  return nullptr;
}

}  // namespace

bool have_sound_files() {
#ifdef ZARN_HAVE_SNDFILE
  return true;
#else
  return false;
#endif
}

void check_sound_file_name(const std::string& name) {
  if (!have_sound_files())
    throw failure("this build of zarn has no sound output: libsndfile was not found when it was built");
  if (container_of(name) == nullptr)
    throw failure(name, "the name must end in .wav, .aiff, .aif, .flac or .caf, which choose the sound file's container");
}

std::string sound_file_peak_note(const std::string& name) {
  const Container* container = container_of(name);
  if (container != nullptr && !container->floats) return "this file holds 24-bit samples, and they were clipped at full scale";
  return "a float file keeps it, a player may clip it";
}

namespace detail {

void put_float_wav(Output& out, const std::vector<float>& samples, int rate) {
  const auto le32 = [&](std::uint32_t v) {
    const char b[4] = {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
    out.put(std::string_view(b, 4));
  };
  const auto le16 = [&](std::uint32_t v) {
    const char b[2] = {static_cast<char>(v), static_cast<char>(v >> 8)};
    out.put(std::string_view(b, 2));
  };
  const auto frames = static_cast<std::uint32_t>(samples.size());
  const std::uint32_t data = frames * 4;
  out.put("RIFF");
  le32(4 + (8 + 18) + (8 + 4) + (8 + data));
  out.put("WAVEfmt ");
  le32(18);
  le16(3);  // IEEE float
  le16(1);  // mono
  le32(static_cast<std::uint32_t>(rate));
  le32(static_cast<std::uint32_t>(rate) * 4);
  le16(4);   // bytes a frame
  le16(32);  // bits a sample
  le16(0);   // no extension
  out.put("fact");
  le32(4);
  le32(frames);
  out.put("data");
  le32(data);
  for (float f : samples) {
    std::uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    le32(bits);
  }
}

}  // namespace detail

FdWriter sound_file_writer(const std::string& name, const std::vector<float>& samples, int rate) {
  const Container* container = container_of(name);
  return [container, &samples, rate](int fd) -> int {
    // A float WAV file as the common readers take it without a warning: the format chunk
    // with its (empty) extension, a fact chunk, and no PEAK or padding chunks.
    if (container->ending == ".wav") {
      if (samples.size() > (UINT32_MAX - 64) / 4) return EFBIG;  // sizes are 32-bit fields
      Output out(fd);
      detail::put_float_wav(out, samples, rate);
      return out.flush() ? 0 : out.error();
    }
#ifdef ZARN_HAVE_SNDFILE
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = container->format;
    SNDFILE* file = sf_open_fd(fd, SFM_WRITE, &info, SF_FALSE);
    if (file == nullptr) return errno != 0 ? errno : EINVAL;
    // Integer encodings clip what lies beyond full scale instead of wrapping it around.
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    const auto frames = static_cast<sf_count_t>(samples.size());
    const bool written = sf_writef_float(file, samples.data(), frames) == frames;
    const int error = errno;
    const bool closed = sf_close(file) == 0;
    if (written && closed) return 0;
    return error != 0 ? error : EIO;
#else
    (void)container, (void)samples, (void)rate, (void)fd;
    return ENOSYS;
#endif
  };
}

}  // namespace zarn

#include "sound_file.hpp"

#include <cerrno>
#include <string_view>

#include "failure.hpp"

#ifdef ZARN_HAVE_SNDFILE
#include <sndfile.h>
#endif

namespace zarn {

namespace {

struct Container {
  std::string_view ending;
  int format;  // libsndfile's major format and encoding; 0 where the build has no libsndfile
};

#ifdef ZARN_HAVE_SNDFILE
const Container kContainers[] = {
    {".wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT},   {".aiff", SF_FORMAT_AIFF | SF_FORMAT_FLOAT},
    {".aif", SF_FORMAT_AIFF | SF_FORMAT_FLOAT},  {".caf", SF_FORMAT_CAF | SF_FORMAT_FLOAT},
    {".flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
};
#else
const Container kContainers[] = {{".wav", 0}, {".aiff", 0}, {".aif", 0}, {".caf", 0}, {".flac", 0}};
#endif

const Container* container_of(std::string_view name) {
  for (const Container& c : kContainers)
    if (name.size() > c.ending.size() && name.substr(name.size() - c.ending.size()) == c.ending) return &c;
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

FdWriter sound_file_writer(const std::string& name, const std::vector<float>& samples, int rate) {
  const Container* container = container_of(name);
  return [container, &samples, rate](int fd) -> int {
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

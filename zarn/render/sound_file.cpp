#include "render/sound_file.hpp"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string_view>

#include "model/failure.hpp"

#include <sys/statvfs.h>

#ifdef ZARN_HAVE_SNDFILE
#include <sndfile.h>
#endif

namespace zarn {

namespace {

// A container: its ending, libsndfile's major format (0 for WAV, written here), whether it
// holds floats, and the depth it has unless asked.
struct Container {
  std::string_view ending;  // matched whatever its case
  int major;
  bool floats;
  SampleDepth fallback;
  bool sizes32;    // its sizes are 32-bit fields: at most 4 GiB of samples
  bool can_be_empty;  // a file of no samples is one that readers open
};

#ifdef ZARN_HAVE_SNDFILE
const Container kContainers[] = {
    {".wav", 0, true, SampleDepth::kFloat, true, true},
    {".aiff", SF_FORMAT_AIFF, true, SampleDepth::kFloat, true, false},
    {".aif", SF_FORMAT_AIFF, true, SampleDepth::kFloat, true, false},
    {".caf", SF_FORMAT_CAF, true, SampleDepth::kFloat, false, true},
    {".flac", SF_FORMAT_FLAC, false, SampleDepth::k24, false, false},
    {".ogg", SF_FORMAT_OGG, true, SampleDepth::kFloat, false, false},
    {".opus", SF_FORMAT_OGG, true, SampleDepth::kFloat, false, false},
};
#else
const Container kContainers[] = {{".wav", 0, true, SampleDepth::kFloat, true, true}};
#endif

// Samples are written this many at a time.
constexpr std::size_t kBlockFrames = 1 << 14;

bool ends_with_any_case(std::string_view name, std::string_view ending) {
  if (name.size() <= ending.size()) return false;
  const std::string_view tail = name.substr(name.size() - ending.size());
  for (std::size_t i = 0; i < ending.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(tail[i])) != ending[i]) return false;
  return true;
}

const Container* container_of(std::string_view name) {
  if (name == "-") return &kContainers[0];  // WAV on standard output
  for (const Container& c : kContainers)
    if (ends_with_any_case(name, c.ending)) return &c;
  return nullptr;
}

SampleDepth depth_in(const Container& c, SampleDepth asked) { return asked == SampleDepth::kDefault ? c.fallback : asked; }

int bits_of(SampleDepth d) { return d == SampleDepth::k16 ? 16 : d == SampleDepth::k24 ? 24 : 32; }

#ifdef ZARN_HAVE_SNDFILE
// libsndfile's format for a container and depth (the Ogg codecs carry no depth).
int sndfile_format(const Container& c, SampleDepth depth) {
  if (c.major == SF_FORMAT_OGG) return SF_FORMAT_OGG | (c.ending == ".opus" ? SF_FORMAT_OPUS : SF_FORMAT_VORBIS);
  const int encoding = depth == SampleDepth::k16   ? SF_FORMAT_PCM_16
                       : depth == SampleDepth::k24 ? SF_FORMAT_PCM_24
                       : depth == SampleDepth::k32 ? SF_FORMAT_PCM_32
                                                   : SF_FORMAT_FLOAT;
  return c.major | encoding;
}
#endif

// Samples as integers of `bits` bits: triangular dither of one step each way, then clipped at
// full scale. The dither is the same for the same sound, so that a run gives the same file
// twice.
class Quantiser {
 public:
  explicit Quantiser(int bits) : scale_(std::ldexp(1.0, bits - 1)), noise_(0x7a61726e) {}
  std::int32_t operator()(float f) {
    const double v = std::floor(static_cast<double>(f) * scale_ + u_(noise_) + u_(noise_) - 0.5);
    return static_cast<std::int32_t>(std::clamp(v, -scale_, scale_ - 1));
  }

 private:
  double scale_;
  std::mt19937_64 noise_;
  std::uniform_real_distribution<double> u_{0.0, 1.0};
};

}  // namespace

SampleDepth depth_named(const std::string& name) {
  if (name == "16") return SampleDepth::k16;
  if (name == "24") return SampleDepth::k24;
  if (name == "32") return SampleDepth::k32;
  if (name == "float") return SampleDepth::kFloat;
  return SampleDepth::kDefault;
}

bool have_sound_files() {
#ifdef ZARN_HAVE_SNDFILE
  return true;
#else
  return false;
#endif
}

void check_sound_file_name(const std::string& name, SampleDepth depth, int rate) {
  const Container* c = container_of(name);
  if (c == nullptr) {
    if (!have_sound_files())
      throw failure(name, "this build of zarn writes WAV files only (.wav): libsndfile was not found when it was built");
    throw failure(name, "the name must end in .wav, .aiff, .aif, .caf, .flac, .ogg or .opus, which choose the sound file's container");
  }
#ifdef ZARN_HAVE_SNDFILE
  if (c->major == SF_FORMAT_OGG && depth != SampleDepth::kDefault)
    throw failure(name, "--bits does not apply to Ogg files, whose codec chooses its own precision");
  if (c->major == SF_FORMAT_FLAC && (depth == SampleDepth::k32 || depth == SampleDepth::kFloat))
    throw failure(name, "FLAC holds 16 or 24 bits a sample, not 32 or floats");
  if (c->ending == ".opus" && rate != 8000 && rate != 12000 && rate != 16000 && rate != 24000 && rate != 48000)
    throw failure(name, "Opus files are at 8000, 12000, 16000, 24000 or 48000 Hz, not " + std::to_string(rate) + " (--rate)");
  if (c->major != 0) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = sndfile_format(*c, depth_in(*c, depth));
    if (!sf_format_check(&info)) throw failure(name, "the libsndfile of this machine cannot write this container");
  }
#else
  (void)depth, (void)rate;
#endif
}

std::string sound_file_peak_note(const std::string& name, SampleDepth depth) {
  const Container* c = container_of(name);
  if (c == nullptr) return {};
  const SampleDepth d = depth_in(*c, depth);
  if (d != SampleDepth::kFloat) return "this file holds " + std::to_string(bits_of(d)) + "-bit samples, and they were clipped at full scale";
  if (c->major != 0 && !c->floats) return "the file clips it";
  return "a float file keeps it, a player may clip it";
}

void check_sound_size(const std::string& name, double frames, int rate, SampleDepth depth) {
  const Container* container = container_of(name);
  if (container == nullptr) return;  // refused by check_sound_file_name
  const std::string where = name == "-" ? std::string("standard output") : name;
  const std::string ending(container->ending);
  if (frames == 0 && !container->can_be_empty)
    throw failure(where, "the result holds no sound (no partial has a point), and a " + ending +
                             " file cannot be empty (a .wav or .caf file can); nothing saved");
  const SampleDepth d = depth_in(*container, depth);
  const bool lossy = ending == ".ogg" || ending == ".opus", flac = ending == ".flac";
  const double bytes_per_sample = lossy ? 0 : bits_of(d) / 8.0;
  const double bytes = frames * bytes_per_sample;
  char length[96];
  // A count past what anyone reads digit by digit is shown with its exponent.
  std::snprintf(length, sizeof length, frames < 1e16 ? "a sound of %.0f samples (%.1f hours at %d Hz)" : "a sound of %.3g samples (%.3g hours at %d Hz)",
                frames, frames / rate / 3600, rate);
  // 64 bytes for the headers before the samples, in a chunk whose size is a 32-bit field.
  if (container->sizes32 && bytes > static_cast<double>(UINT32_MAX - 64))
    throw failure(where, std::string(length) + " takes more than the 4 GiB a " + ending +
                             " file holds; nothing saved (a .caf or .flac file holds it)");
  if (name == "-" || bytes_per_sample == 0) return;
  struct statvfs fs;
  if (::statvfs(folder_of(name).c_str(), &fs) != 0) return;  // the save says why it cannot write there
  const double free = static_cast<double>(fs.f_bavail) * static_cast<double>(fs.f_frsize);
  // FLAC compresses: at most its samples' size, often half; a file larger than the free
  // space could still fit, so only the uncompressed containers are held to it.
  if (!flac && bytes > free) {
    char sizes[96];
    std::snprintf(sizes, sizeof sizes, " takes %.3g GB, more than the %.3g GB free there; nothing saved", bytes / 1e9, free / 1e9);
    throw failure(where, length + std::string(sizes));
  }
}

namespace detail {

void put_wav(Output& out, const SampleSource& source, int rate, SampleDepth depth) {
  const auto le = [&](std::uint32_t v, int bytes) {
    char b[4];
    for (int i = 0; i < bytes; ++i) b[i] = static_cast<char>(v >> (8 * i));
    out.put(std::string_view(b, static_cast<std::size_t>(bytes)));
  };
  const bool floats = depth == SampleDepth::kFloat || depth == SampleDepth::kDefault;
  const int bytes = floats ? 4 : bits_of(depth) / 8;
  const auto frames = static_cast<std::uint32_t>(source.length);
  const std::uint32_t data = frames * static_cast<std::uint32_t>(bytes);
  // Floats: the format chunk with its (empty) extension and a fact chunk, as readers expect.
  const std::uint32_t format_size = floats ? 18 : 16, fact = floats ? 12 : 0;
  out.put("RIFF");
  le(4 + (8 + format_size) + fact + (8 + data) + (data % 2), 4);
  out.put("WAVEfmt ");
  le(format_size, 4);
  le(floats ? 3 : 1, 2);  // IEEE float or integer PCM
  le(1, 2);               // mono
  le(static_cast<std::uint32_t>(rate), 4);
  le(static_cast<std::uint32_t>(rate) * static_cast<std::uint32_t>(bytes), 4);
  le(static_cast<std::uint32_t>(bytes), 2);
  le(static_cast<std::uint32_t>(8 * bytes), 2);
  if (floats) {
    le(0, 2);  // no extension
    out.put("fact");
    le(4, 4);
    le(frames, 4);
  }
  out.put("data");
  le(data, 4);
  Quantiser quantise(floats ? 32 : 8 * bytes);
  std::vector<float> block(kBlockFrames);
  std::vector<char> little(kBlockFrames * 4);  // a block's samples, little-endian
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  const bool as_they_are = floats;  // floats are already in the file's order
#else
  const bool as_they_are = false;
#endif
  for (std::size_t got; (got = source.next(block.data(), block.size())) > 0;) {
    if (as_they_are) {
      out.put(std::string_view(reinterpret_cast<const char*>(block.data()), got * 4));
      continue;
    }
    char* at = little.data();
    for (std::size_t i = 0; i < got; ++i) {
      std::uint32_t u;
      if (floats)
        std::memcpy(&u, &block[i], sizeof u);
      else
        u = static_cast<std::uint32_t>(quantise(block[i]));
      for (int b = 0; b < bytes; ++b) *at++ = static_cast<char>(u >> (8 * b));
    }
    out.put(std::string_view(little.data(), static_cast<std::size_t>(at - little.data())));
  }
  if (data % 2 != 0) out.put('\0');  // chunks are padded to even sizes
}

}  // namespace detail

SampleSource samples_of(const std::vector<float>& samples) {
  auto at = std::make_shared<std::size_t>(0);
  return {static_cast<long long>(samples.size()), [&samples, at](float* out, std::size_t n) {
            const std::size_t got = std::min(n, samples.size() - *at);
            std::copy(samples.begin() + static_cast<std::ptrdiff_t>(*at), samples.begin() + static_cast<std::ptrdiff_t>(*at + got), out);
            *at += got;
            return got;
          }};
}

Writer wav_writer(SampleSource source, int rate, SampleDepth depth) {
  return [source, rate, depth](Output& out) {
    detail::put_wav(out, source, rate, depth == SampleDepth::kDefault ? SampleDepth::kFloat : depth);
  };
}

FdWriter sound_file_writer(const std::string& name, SampleSource source, int rate, SampleDepth depth) {
  const Container* container = container_of(name);
  return [container, source, rate, depth](int fd) -> int {
    const SampleDepth d = depth_in(*container, depth);
    if (container->major == 0) {
      if (source.length > static_cast<long long>((UINT32_MAX - 64) / 4)) return EFBIG;  // sizes are 32-bit fields
      Output out(fd);
      detail::put_wav(out, source, rate, d);
      return out.flush() ? 0 : out.error();
    }
#ifdef ZARN_HAVE_SNDFILE
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = sndfile_format(*container, d);
    std::unique_ptr<SNDFILE, int (*)(SNDFILE*)> file(sf_open_fd(fd, SFM_WRITE, &info, SF_FALSE), sf_close);
    if (file == nullptr) return errno != 0 ? errno : EINVAL;
    // Integer depths are dithered and clipped here, and handed over as the top bits of 32-bit
    // integers; floats and the Ogg codecs as they are, clipped rather than wrapped.
    sf_command(file.get(), SFC_SET_CLIPPING, nullptr, SF_TRUE);
    const bool integers = d != SampleDepth::kFloat && container->major != SF_FORMAT_OGG;
    Quantiser quantise(integers ? bits_of(d) : 32);
    const int shift = 32 - (integers ? bits_of(d) : 32);
    std::vector<float> block(kBlockFrames);
    std::vector<int> ints(integers ? kBlockFrames : 0);
    for (std::size_t got; (got = source.next(block.data(), block.size())) > 0;) {
      const auto frames = static_cast<sf_count_t>(got);
      bool written;
      if (integers) {
        for (std::size_t i = 0; i < got; ++i) ints[i] = static_cast<int>(static_cast<std::uint32_t>(quantise(block[i])) << shift);
        written = sf_writef_int(file.get(), ints.data(), frames) == frames;
      } else {
        written = sf_writef_float(file.get(), block.data(), frames) == frames;
      }
      if (!written) return errno != 0 ? errno : EIO;
    }
    if (sf_close(file.release()) != 0) return errno != 0 ? errno : EIO;
    return 0;
#else
    (void)fd;
    return ENOSYS;
#endif
  };
}

FdWriter sound_file_writer(const std::string& name, const std::vector<float>& samples, int rate, SampleDepth depth) {
  return sound_file_writer(name, samples_of(samples), rate, depth);
}

}  // namespace zarn

#include "formats/sound_input.hpp"

#include "io/spool.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "analysis/fft.hpp"
#include "model/failure.hpp"

#ifdef ZARN_HAVE_SNDFILE
#include <sndfile.h>
#endif

namespace zarn {

bool is_sound(std::string_view start) {
  const auto at = [&](std::size_t offset, std::string_view magic) {
    return start.size() >= offset + magic.size() && start.substr(offset, magic.size()) == magic;
  };
  const auto byte = [&](std::size_t i) { return i < start.size() ? static_cast<unsigned char>(start[i]) : 0u; };
  // The containers that libsndfile recognises by their first bytes.
  constexpr std::string_view kAt0[] = {
      "RF64", ".snd", "dns.", "fLaC", "OggS", "caff", "ID3", "NIST_1A\n", "Creative Voice File", " paf", "fap ",
      "MATLAB 5.0 MAT-file", "PVF1\n", "Extended Instrument:", "2BIT", "ALawSoundFile**",
      std::string_view("\xf0\x7e\x00", 3),          // SDS
      std::string_view("riff\x2e\x91\xcf\x11", 8),  // Wave64's GUID
  };
  for (const std::string_view magic : kAt0)
    if (at(0, magic)) return true;
  if ((at(0, "RIFF") || at(0, "RIFX")) && at(8, "WAVE")) return true;
  if (at(0, "FORM") && (at(8, "AIFF") || at(8, "AIFC") || at(8, "8SVX") || at(8, "16SV"))) return true;
  // IRCAM: 64 a3 0N 00 in either byte order, N from 1 to 4.
  if (byte(0) == 0x64 && byte(1) == 0xa3 && byte(2) >= 1 && byte(2) <= 4 && byte(3) == 0 && start.size() >= 4) return true;
  if (byte(0) == 0 && byte(1) >= 1 && byte(1) <= 4 && byte(2) == 0xa3 && byte(3) == 0x64) return true;
  // An MPEG audio frame without a tag: eleven sync bits, a version that is not reserved and a
  // layer that is not reserved.
  return byte(0) == 0xff && (byte(1) & 0xe0) == 0xe0 && (byte(1) & 0x18) != 0x08 && (byte(1) & 0x06) != 0;
}

#ifdef ZARN_HAVE_SNDFILE

namespace {

// An input held in memory, as libsndfile's virtual file.
struct Memory {
  std::string_view bytes;
  sf_count_t at = 0;
};

sf_count_t memory_length(void* m) { return static_cast<sf_count_t>(static_cast<Memory*>(m)->bytes.size()); }
sf_count_t memory_seek(sf_count_t offset, int whence, void* m) {
  Memory& mem = *static_cast<Memory*>(m);
  const sf_count_t size = static_cast<sf_count_t>(mem.bytes.size());
  sf_count_t to = whence == SEEK_SET ? offset : whence == SEEK_CUR ? mem.at + offset : size + offset;
  mem.at = std::clamp<sf_count_t>(to, 0, size);
  return mem.at;
}
sf_count_t memory_read(void* dst, sf_count_t n, void* m) {
  Memory& mem = *static_cast<Memory*>(m);
  const sf_count_t got = std::min(n, static_cast<sf_count_t>(mem.bytes.size()) - mem.at);
  std::memcpy(dst, mem.bytes.data() + mem.at, static_cast<std::size_t>(got));
  mem.at += got;
  return got;
}
sf_count_t memory_write(const void*, sf_count_t, void*) { return 0; }
sf_count_t memory_tell(void* m) { return static_cast<Memory*>(m)->at; }

// A regular file read from an offset on (standard input after another program read part of
// it), as libsndfile's virtual file whose start is that offset.
struct FileFrom {
  int fd;
  off_t origin, size;
};

sf_count_t from_length(void* f) {
  const FileFrom& file = *static_cast<FileFrom*>(f);
  return static_cast<sf_count_t>(file.size - file.origin);
}
sf_count_t from_seek(sf_count_t offset, int whence, void* f) {
  const FileFrom& file = *static_cast<FileFrom*>(f);
  const off_t at = whence == SEEK_SET ? ::lseek(file.fd, file.origin + static_cast<off_t>(offset), SEEK_SET)
                                      : ::lseek(file.fd, static_cast<off_t>(offset), whence);
  return at < 0 ? -1 : static_cast<sf_count_t>(at - file.origin);
}
sf_count_t from_read(void* dst, sf_count_t n, void* f) {
  const FileFrom& file = *static_cast<FileFrom*>(f);
  sf_count_t got = 0;
  while (got < n) {
    const ssize_t r = ::read(file.fd, static_cast<char*>(dst) + got, static_cast<std::size_t>(n - got));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    got += r;
  }
  return got;
}
sf_count_t from_tell(void* f) {
  const FileFrom& file = *static_cast<FileFrom*>(f);
  const off_t at = ::lseek(file.fd, 0, SEEK_CUR);
  return at < 0 ? -1 : static_cast<sf_count_t>(at - file.origin);
}

// Closes what it holds when the scope ends.
struct Closer {
  SNDFILE* file = nullptr;
  int fd = -1;
  ~Closer() {
    if (file != nullptr) sf_close(file);
    if (fd >= 0) ::close(fd);
  }
};

// A pipe cannot be read twice, as decoding needs: its bytes (those read already, then the
// rest) go to an unnamed temporary file, a block at a time.
int spool(Input& in) {
  std::string folder;
  const int fd = unnamed_temporary_file(folder);
  if (fd < 0) throw system_failure(in.name(), errno, "cannot make a temporary file in " + folder + " to decode it from");
  const auto put = [&](const char* p, std::size_t n) {
    while (n > 0) {
      const ssize_t w = ::write(fd, p, n);
      if (w < 0 && errno == EINTR) continue;
      if (w < 0) {
        const int error = errno;
        ::close(fd);
        throw system_failure(in.name(), error, "cannot keep it in a temporary file in " + folder);
      }
      p += w;
      n -= static_cast<std::size_t>(w);
    }
  };
  const std::string_view held = in.unread();
  put(held.data(), held.size());
  std::vector<char> block(1 << 16);
  for (;;) {
    const ssize_t got = ::read(in.descriptor(), block.data(), block.size());
    if (got == 0) break;
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      const int error = errno;
      ::close(fd);
      throw system_failure(in.name(), error, "cannot read");
    }
    put(block.data(), static_cast<std::size_t>(got));
  }
  ::lseek(fd, 0, SEEK_SET);
  return fd;
}

// libsndfile's reason, or what it means where libsndfile gives none.
std::string decoding_error(const char* reason) {
  const std::string r = reason == nullptr ? "" : reason;
  if (r.empty() || r.find("Unspecified internal error") != std::string::npos)
    return "it is malformed, or in an encoding that this build of libsndfile cannot decode (libsndfile gives no reason)";
  return r;
}

}  // namespace

namespace {

// True for a file cut short (a recording stopped, a copy broken off), which still decodes to
// where it ends: libsndfile notes in its log, on opening, that the header gave its sound chunk
// more than the file holds.
bool cut_short(SNDFILE* file) {
  char log[8192] = {};
  sf_command(file, SFC_GET_LOG_INFO, log, sizeof log);
  for (const char* line = log; *line != '\0';) {
    const char* end = std::strchr(line, '\n');
    const std::string text(line, end != nullptr ? static_cast<std::size_t>(end - line) : std::strlen(line));
    const std::size_t first = text.find_first_not_of(' ');
    const bool sound_chunk = first != std::string::npos && (text.compare(first, 4, "data") == 0 || text.compare(first, 4, "SSND") == 0);
    if (sound_chunk && text.find("(should be") != std::string::npos) return true;
    if (end == nullptr) break;
    line = end + 1;
  }
  return false;
}

// The spectrogram of the sound as it is decoded: Hann-windowed transforms of 2048 samples
// every 512, rows of two bins each (at most 512 rows), at most 1024 columns: where the sound
// is longer, neighbouring columns are merged by their louder cells and later columns each
// gather as many transforms.
class SpectrogramMaker {
 public:
  explicit SpectrogramMaker(double rate) : rate_(rate), fft_(kSize), window_(kSize), held_(kSize, 0.0), cell_(kRows, 0.0) {
    for (std::size_t n = 0; n < kSize; ++n) window_[n] = 0.5 - 0.5 * std::cos(2 * 3.141592653589793 * static_cast<double>(n) / kSize);
  }

  void add(const double* x, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
      held_[filled_++] = x[i];
      if (filled_ == kSize) {
        transform();
        std::copy(held_.begin() + kHop, held_.end(), held_.begin());
        filled_ -= kHop;
      }
    }
  }

  std::shared_ptr<const Spectrogram> finish() {
    auto g = std::make_shared<Spectrogram>();
    g->rows = kRows;
    g->columns = static_cast<int>(power_.size() / kRows);
    g->hop = static_cast<double>(kHop * group_) / rate_;
    g->start = (static_cast<double>(kSize) / 2 + static_cast<double>(kHop) * (static_cast<double>(group_) - 1) / 2) / rate_;
    g->bin = 2 * rate_ / kSize;
    for (double p : power_) {
      // The level of a sine as strong: a full-scale sine's bin is kSize / 4 through the window.
      const double db = p > 0 ? 10 * std::log10(p * 16 / (static_cast<double>(kSize) * kSize)) : -1e9;
      g->level.push_back(static_cast<unsigned char>(std::clamp(std::round((db - g->floor) / g->unit), 0.0, 255.0)));
    }
    return g;
  }

 private:
  static constexpr std::size_t kSize = 2048, kHop = 512, kRows = 512, kColumns = 1024;

  void transform() {
    for (std::size_t n = 0; n < kSize; ++n) fft_.input()[n] = held_[n] * window_[n];
    fft_.run();
    for (std::size_t r = 0; r < kRows; ++r)
      cell_[r] = std::max({cell_[r], std::norm(fft_.output()[2 * r]), std::norm(fft_.output()[2 * r + 1])});
    if (++gathered_ < group_) return;
    power_.insert(power_.end(), cell_.begin(), cell_.end());
    std::fill(cell_.begin(), cell_.end(), 0.0);
    gathered_ = 0;
    if (power_.size() == kRows * kColumns) {  // full: pairs of columns merged, and each later one gathers twice as many
      for (std::size_t c = 0; c < kColumns / 2; ++c)
        for (std::size_t r = 0; r < kRows; ++r) power_[c * kRows + r] = std::max(power_[2 * c * kRows + r], power_[(2 * c + 1) * kRows + r]);
      power_.resize(kRows * kColumns / 2);
      group_ *= 2;
    }
  }

  double rate_;
  RealFft fft_;
  std::vector<double> window_, held_, cell_, power_;
  std::size_t filled_ = 0, gathered_ = 0, group_ = 1;
};

// Decodes the sound to its end into the analyser, as one channel (`channel` from 1) or the
// mean of all (0); returns the number of frames. Throws Failure for a sample that is not a
// finite number, or a file that cannot be decoded to its end.
long long decode_into(SNDFILE* file, const SF_INFO& info, int channel, const std::string& name, Analyser& analyser,
                      SpectrogramMaker* spectrogram, const std::function<void(const double*, std::size_t)>& seen) {
  const double rate = info.samplerate;
  long long total = 0;
  const auto channels = static_cast<std::size_t>(info.channels);
  constexpr sf_count_t kBlock = 1 << 14;
  std::vector<double> frames(static_cast<std::size_t>(kBlock) * channels), mono(static_cast<std::size_t>(kBlock));
  for (;;) {
    const sf_count_t got = sf_readf_double(file, frames.data(), kBlock);
    if (got <= 0) break;
    for (sf_count_t f = 0; f < got; ++f) {
      const double* frame = &frames[static_cast<std::size_t>(f) * channels];
      double v = 0;
      if (channel > 0) {
        v = frame[channel - 1];
      } else {
        for (std::size_t c = 0; c < channels; ++c) v += frame[c];
        v /= static_cast<double>(channels);
      }
      if (!std::isfinite(v)) {
        char at[96];
        std::snprintf(at, sizeof at, "sample %lld (at %.6f s) is not a finite number", total + f, static_cast<double>(total + f) / rate);
        throw failure(name, at);
      }
      mono[static_cast<std::size_t>(f)] = v;
    }
    analyser.add(mono.data(), static_cast<std::size_t>(got));
    if (spectrogram != nullptr) spectrogram->add(mono.data(), static_cast<std::size_t>(got));
    if (seen) seen(mono.data(), static_cast<std::size_t>(got));
    total += got;
  }
  if (sf_error(file) != SF_ERR_NO_ERROR)
    throw failure(name, "cannot be decoded to its end: " + decoding_error(sf_strerror(file)));
  return total;
}

}  // namespace

PartialSet read_sound(Input& in, const SoundOptions& options) {
  SF_INFO info{};
  Closer closer;
  Memory memory{in.unread()};
  SF_VIRTUAL_IO io{memory_length, memory_seek, memory_read, memory_write, memory_tell};
  SF_VIRTUAL_IO from_io{from_length, from_seek, from_read, memory_write, from_tell};
  FileFrom from{};
  if (in.descriptor() < 0) {
    closer.file = sf_open_virtual(&io, SFM_READ, &info, &memory);
  } else {
    struct stat st;
    int fd = in.descriptor();
    // A file is decoded from where the input started, which is not its start where another
    // program read part of standard input before.
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && in.origin() >= 0 && in.origin() <= st.st_size) {
      from = {fd, static_cast<off_t>(in.origin()), st.st_size};
      if (::lseek(fd, from.origin, SEEK_SET) != from.origin) throw system_failure(in.name(), errno, "cannot read");
      closer.file = sf_open_virtual(&from_io, SFM_READ, &info, &from);
    } else {
      closer.fd = fd = spool(in);
      closer.file = sf_open_fd(fd, SFM_READ, &info, SF_FALSE);
    }
  }
  if (closer.file == nullptr)
    throw failure(in.name(), "cannot be decoded as a sound: " + decoding_error(sf_strerror(nullptr)));
  if (info.channels < 1 || info.samplerate < 1)
    throw failure(in.name(), "a sound of " + std::to_string(info.channels) + " channels at " + std::to_string(info.samplerate) +
                                 " Hz cannot be analysed");
  if (options.channel > info.channels)
    throw failure(in.name(), "--channel=" + std::to_string(options.channel) + " asks for a channel this sound lacks: it has " +
                                 std::to_string(info.channels));
  const double rate = info.samplerate;
  // The length, where the container tells it, refuses a sound shorter than the window.
  const long long known = info.frames >= 0 && info.frames < SF_COUNT_MAX ? static_cast<long long>(info.frames) : -1;
  const bool cut = cut_short(closer.file);
  const std::string problem = analysis_problem(options.analysis, rate, known);
  if (!problem.empty()) throw failure(in.name(), problem + (cut ? " (the file is cut short: its header gives it more sound than it holds)" : ""));

  Analyser analyser(rate, options.analysis);
  std::unique_ptr<SpectrogramMaker> spectrogram;
  if (options.spectrogram) spectrogram = std::make_unique<SpectrogramMaker>(rate);
  const long long total = decode_into(closer.file, info, options.channel, in.name(), analyser, spectrogram.get(), options.samples_seen);
  PartialSet set = analyser.finish();
  if (spectrogram) set.spectrogram = spectrogram->finish();
  set.rate = rate;
  set.samples = total;
  if (cut) {
    char what[160];
    std::snprintf(what, sizeof what, "is cut short: its header gives it more sound than the file holds; the %.3f s it holds were analysed",
                  static_cast<double>(total) / rate);
    set.damaged = what;
  }
  char length[64];
  std::snprintf(length, sizeof length, "%.3f s (%lld samples)", static_cast<double>(total) / rate, total);
  set.about.push_back({"Sample rate", std::to_string(info.samplerate) + " Hz"});
  set.about.push_back({"Channels", std::to_string(info.channels) +
                                       (options.channel > 0 ? " (channel " + std::to_string(options.channel) + " analysed)"
                                                            : info.channels > 1 ? " (their mean analysed)" : "")});
  set.about.push_back({"Length", length});
  set.about.push_back({"Window", std::to_string(analyser.window()) + " samples, hop " + std::to_string(analyser.hop())});
  if (set.partials.empty()) set.passed_over = "no peak above the floor and the noise";
  return set;
}

#else

PartialSet read_sound(Input& in, const SoundOptions&) {
  throw failure(in.name() + " is a sound file, and this build of zarn cannot read sound: libsndfile was not found when it was built");
}

#endif

}  // namespace zarn

// libFuzzer target: sound files of hostile headers and samples, analysed with the options
// varied. Every input must be analysed into partials, in time and memory that follow the
// sound's length, or refused with a clean Failure.
//
// The first byte chooses the container: its low two bits a WAV of 32-bit floats, a WAV of
// 16-bit integers or an IRCAM file made around the rest (with the next four bytes as the
// header's sample rate, any float, and the byte after them as the channel count), or the bytes
// as they are (so that libsndfile meets hostile headers of every kind). The second byte varies
// the analysis: resolution, hop, floor, shortest track and channel.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "model/failure.hpp"
#include "formats/formats.hpp"

namespace {

void put_le(std::string& s, std::uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) s += static_cast<char>(v >> (8 * i));
}

// A WAV header for `data` bytes of samples; `floats` chooses 32-bit floats or 16-bit integers.
std::string wav(const std::string& data, std::uint32_t rate, std::uint16_t channels, bool floats) {
  const std::uint16_t bytes = floats ? 4 : 2;
  std::string w = "RIFF";
  put_le(w, static_cast<std::uint32_t>(36 + data.size()), 4);
  w += "WAVEfmt ";
  put_le(w, 16, 4);
  put_le(w, floats ? 3 : 1, 2);
  put_le(w, channels, 2);
  put_le(w, rate, 4);
  put_le(w, rate * channels * bytes, 4);
  put_le(w, static_cast<std::uint32_t>(channels * bytes), 2);
  put_le(w, 8u * bytes, 2);
  w += "data";
  put_le(w, static_cast<std::uint32_t>(data.size()), 4);
  return w + data;
}

// An IRCAM header (1024 bytes, little-endian) whose rate is any float: 0, infinities, NaN and
// absurd rates among them.
std::string ircam(const std::string& data, float rate, std::uint32_t channels) {
  std::string h = std::string("\x64\xa3\x01\x00", 4);
  char r[4];
  std::memcpy(r, &rate, 4);
  h.append(r, 4);
  put_le(h, channels, 4);
  put_le(h, 4, 4);  // 32-bit floats
  h.resize(1024, '\0');
  return h + data;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 7) return 0;
  const std::uint8_t kind = data[0] & 3, vary = data[1];
  float rate_bits;
  std::memcpy(&rate_bits, data + 2, 4);
  const std::uint16_t channels = static_cast<std::uint16_t>(1 + data[6] % 4);
  const std::string rest(reinterpret_cast<const char*>(data + 7), size - 7);
  const std::uint32_t rates[] = {44100, 8000, 1, 96000};
  std::string bytes;
  switch (kind) {
    case 0: bytes = wav(rest, rates[vary & 3], channels, true); break;
    case 1: bytes = wav(rest, rates[vary & 3], channels, false); break;
    case 2: bytes = ircam(rest, rate_bits, channels); break;
    default: bytes = std::string(reinterpret_cast<const char*>(data + 1), size - 1); break;
  }
  zarn::ReadOptions options;
  if ((vary & 0xfc) != 0) options.sound_options = {"--hop"};
  const double resolutions[] = {40, 5, 400, 0.5};
  const double hops[] = {0, 1e-4, 0.05, 1e18};
  zarn::AnalysisOptions& a = options.sound.analysis;
  a.resolution = resolutions[(vary >> 2) & 3];
  a.hop = hops[(vary >> 4) & 3];
  a.floor = (vary & 0x40) != 0 ? -200 : -90;
  a.min_track = (vary & 0x80) != 0 ? 0.01 : 0;
  options.sound.channel = (vary & 0x40) != 0 ? channels : 0;
  try {
    zarn::read_input(bytes, "fuzz.wav", options);
  } catch (const zarn::Failure&) {
    // a clean rejection
  }
  return 0;
}

// Which reader a file gets, from its first bytes, through memory and through a pipe; and
// the names of the formats written.
#include "formats/formats.hpp"

#include <unistd.h>

#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "model/failure.hpp"
#include "support.hpp"
#include "formats/sdif.hpp"
#include "render/sound_file.hpp"

namespace {

// A WAV file of a tenth of a second of silence.
std::string silence() {
  std::string bytes;
  zarn::Output out(&bytes);
  zarn::detail::put_float_wav(out, std::vector<float>(4410, 0.0f), 44100);
  out.flush();
  return bytes;
}

// The number of partials read, or the message of the rejection.
std::string outcome(const zarn::PartialSet& set) { return std::to_string(set.P()) + " partials"; }

template <typename Read>
std::string attempt(Read read) {
  try {
    return outcome(read());
  } catch (const zarn::Failure& f) {
    return f.message;
  }
}

TEST(Formats, RecognisedFromTheFirstBytes) {
  const std::string sdif_header = std::string(zarn::kSdifMagic) + std::string("\0\0\0\3\0\0\0\1", 8);
  const struct {
    const char* what;
    std::string bytes;
    std::string outcome;
  } cases[] = {
      {"SDIF header alone", sdif_header, "0 partials"},
      {"SDIF header cut", sdif_header.substr(0, 12), "zarn: in: byte 0: not an SDIF file header (\"SDIF\" and a header size of 8)\n"},
      {"a text whose first word is SDIF is a partial list",
       "SDIF x 0 )", "0 partials"},
      {"partials export", "par-text-partials-format\npoint-type time frequency amplitude\npartials-count 0\npartials-data\n", "0 partials"},
      {"frame export with CRLF", "par-text-frame-format\r\npoint-type index frequency amplitude\r\npartials-count 0\r\nframe-count 0\r\nframe-data\r\n",
       "0 partials"},
      {"export line not first", "\npar-text-frame-format\n", "zarn: in:2: the file ends where the list header should be\n"},
      {"partial list", "( PARTIALS 1 ( POINTS 0 ) )", "1 partials"},
      {"a list whose header words look like a script", "#! PARTIALS 0 )", "0 partials"},
      {"the start of a sound file's header, cut short", std::string("RIFF\xfe\xff", 6),
       "zarn: in: not a partial list, SDIF, ATS, SPEAR export or sound file zarn can read\n"},
      {"bytes of no known format", std::string("\xfau\xfa\x01\x00\x13", 6),
       "zarn: in: not a partial list, SDIF, ATS, SPEAR export or sound file zarn can read\n"},
      {"a list with a UTF-8 word is still a list", "( PARTIALS \xc3\xa9 )",
       "zarn: in:1: \"\\xc3\\xa9\" is not a valid count for the number of partials (a whole number from 0 to 2147483647)\n"},
      {"gzip", std::string("\x1f\x8b\x08\0\0\0\0\0", 8), "zarn: in is a gzip file, not an analysis\n"},
#if defined(ZARN_HAVE_SNDFILE) && defined(ZARN_HAVE_FFTW)
      {"a sound file: silence has no partials", silence(), "0 partials"},
#endif
      {"SVG", "<?xml version=\"1.0\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\">", "zarn: in is an SVG picture, not an analysis\n"},
      {"ELF", std::string("\x7f" "ELF\x02\x01\x01\0", 8), "zarn: in is an executable (ELF), not an analysis\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(attempt([&] { return zarn::read_input(c.bytes, "in"); }), c.outcome);
    // The same through a pipe, whose first bytes cannot be read twice.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ASSERT_EQ(::write(fds[1], c.bytes.data(), c.bytes.size()), static_cast<ssize_t>(c.bytes.size()));
    ::close(fds[1]);
    EXPECT_EQ(attempt([&] { return zarn::read_input(fds[0], "in"); }), c.outcome);
    ::close(fds[0]);
  }
}

// Every container that libsndfile tells by its first bytes is taken for a sound, whatever
// libsndfile then makes of the rest.
TEST(Formats, SoundContainersByTheirFirstBytes) {
  using namespace std::string_literals;
  const struct {
    std::string start;
    bool sound;
  } cases[] = {
      {"RIFF\x24\0\0\0WAVEfmt "s, true},
      {"RIFX\0\0\0\x24WAVEfmt "s, true},
      {"riff\x2e\x91\xcf\x11\xa5\xd6\x28\xdb"s, true},  // Wave64
      {"FORM\0\0\0\0AIFFCOMM"s, true},
      {"FORM\0\0\0\0" "8SVXVHDR"s, true},
      {"\x64\xa3\x03\0\0\x44\xac\x47"s, true},  // IRCAM, little-endian
      {"\0\x02\xa3\x64\x47\xac\x44\0"s, true},  // IRCAM, big-endian
      {"\xff\xfb\x90\xc4"s, true},                                  // MPEG layer III without a tag
      {"ID3\x04\0\0\0\0"s, true},
      {"NIST_1A\n   1024\n"s, true},
      {"Creative Voice File\x1a"s, true},
      {"caff\0\x01\0\0"s, true},
      {"\xff\xe0\x90\xc4"s, false},  // MPEG sync with a reserved layer
      {"RIFF\x24\0\0\0AVI LIST"s, false},
      {"( PARTIALS 1"s, false},
  };
  for (const auto& c : cases) EXPECT_EQ(zarn::is_sound(c.start), c.sound) << zarn::quote(c.start);
}

// An empty file named as a sound, SDIF or ATS is said to be empty, not read as a partial list;
// text under such a name is said to be text before why it is no list either.
TEST(Formats, AnEmptyFileByItsName) {
  const std::string text = "( PARTIALS x\n";
  EXPECT_EQ(zarn_test::rejection(text, "notes.WAV"), "zarn: notes.WAV holds text, not the sound, SDIF or ATS its name says; read as a partial "
                                                     "list: notes.WAV:1: \"x\" is not a valid count for the number of partials (a whole "
                                                     "number from 0 to 2147483647)\n");
  EXPECT_EQ(zarn_test::rejection(text, "notes.txt").rfind("zarn: notes.txt:1: \"x\" is not a valid count", 0), 0u);
  const struct {
    const char* name;
    const char* message;
  } cases[] = {
      {"x.wav", "zarn: x.wav: the file is empty: it holds no sound and no partials\n"},
      {"take.FLAC", "zarn: take.FLAC: the file is empty: it holds no sound and no partials\n"},
      {"a.sdif", "zarn: a.sdif: the file is empty: it holds no sound and no partials\n"},
      {"x.txt", "zarn: x.txt:1: the file ends where the list header should be\n"},
      {"wav", "zarn: wav:1: the file ends where the list header should be\n"},  // no ending, no sound
  };
  for (const auto& c : cases) EXPECT_EQ(zarn_test::rejection("", c.name), c.message);
}

// Every writer refuses, before writing, what it cannot hold so that it reads back, with one
// message: the partial list and SDIF hold single precision, the exports and ATS doubles; a
// level that is not a number is silence in a partial list.
TEST(Formats, WritersRefuseFiguresTheyCannotHold) {
  const auto with = [](double freq, double amp) {
    zarn::ResampledSet set;
    set.step = 0.5;
    set.aligned = true;
    zarn::Resampled part;
    part.time = {0, 0.5};
    part.freq = {440, freq};
    part.amp = {0.5, amp};
    set.partials.push_back(part);
    return set;
  };
  const auto refusal = [](const zarn::ResampledSet& set, zarn::Format format) {
    try {
      zarn::check_result(set, format);
    } catch (const zarn::Failure& f) {
      return f.message;
    }
    return std::string();
  };
  const std::string list = "zarn: partial 1 has the frequency inf at time 0.5, which a partial list cannot hold (its figures are "
                           "single-precision numbers); nothing saved\n";
  const struct {
    zarn::Format format;
    double freq, amp;
    std::string message;
  } cases[] = {
      {zarn::Format::kList, INFINITY, 0.5, list},
      {zarn::Format::kList, 440, NAN, ""},
      {zarn::Format::kList, 440, 1e39, ""},
      {zarn::Format::kSdif, 1e39, 0.5,
       "zarn: partial 1 has the frequency 1e+39 at time 0.5, which an SDIF file cannot hold (its figures are single-precision "
       "numbers); nothing saved\n"},
      {zarn::Format::kSdif, 440, NAN,
       "zarn: partial 1 has the amplitude nan at time 0.5, which an SDIF file cannot hold (its figures are single-precision "
       "numbers); nothing saved\n"},
      {zarn::Format::kSpearPartials, INFINITY, 0.5, "zarn: partial 1 has the frequency inf at time 0.5, which a text export cannot hold; nothing saved\n"},
      {zarn::Format::kSpearFrames, 440, -INFINITY, "zarn: partial 1 has the amplitude -inf at time 0.5, which a text export cannot hold; nothing saved\n"},
      {zarn::Format::kSpearFrames, 440, 1e39, ""},
      {zarn::Format::kAts, 440, INFINITY, "zarn: partial 1 has the amplitude inf at time 0.5, which an ATS file cannot hold; nothing saved\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(zarn::row_of(c.format).name) + " " + std::to_string(c.freq) + " " + std::to_string(c.amp));
    EXPECT_EQ(refusal(with(c.freq, c.amp), c.format), c.message);
  }
}

// What the readers hold to their range is said of a result, counted, the first named; what
// lies on the range's ends is read back as written.
TEST(Formats, FrequenciesNotHeldByTheReader) {
  zarn::ResampledSet set;
  zarn::Resampled part;
  part.time = {0, 0.5, 1, 1.5};
  part.freq = {4, 22050, 440, std::nan("")};
  part.amp = {0.1, 0.1, 0.1, 0.1};
  set.partials = {part, part};
  EXPECT_EQ(zarn::frequencies_not_held(set, zarn::Format::kList), "");
  set.partials[1].freq = {3.999, 22050.001, 440, 5e4};
  EXPECT_EQ(zarn::frequencies_not_held(set, zarn::Format::kList),
            "3 frequencies lie outside the 4 to 22050 Hz that list files are read with (the first: partial 2, 3.999 Hz at 0 s); they are "
            "written as they are, but read back they are held to that range");
  EXPECT_EQ(zarn::frequencies_not_held(set, zarn::Format::kSdif).substr(0, 63), "1 frequency lies below the 4 Hz that sdif files are read with (");
}

TEST(Formats, NamesAndEndings) {
  EXPECT_EQ(zarn::format_named("spear-frames"), zarn::Format::kSpearFrames);
  EXPECT_EQ(zarn::format_named("SDIF"), std::nullopt);
  EXPECT_EQ(zarn::format_of_name("out.sdif"), zarn::Format::kSdif);
  EXPECT_EQ(zarn::format_of_name("OUT.Sdif"), zarn::Format::kSdif);
  EXPECT_EQ(zarn::format_of_name(".sdif"), std::nullopt);
  EXPECT_EQ(zarn::format_of_name("out.sdif.txt"), std::nullopt);
  EXPECT_EQ(zarn::format_names(), "list, sdif, spear-partials, spear-frames or ats");
  EXPECT_EQ(zarn::format_of_name("out.ATS"), zarn::Format::kAts);
  for (const zarn::FormatRow& row : zarn::format_table()) {  // rows in the order of their formats
    EXPECT_EQ(&zarn::row_of(row.format), &row);
    if (row.write != nullptr) {
      EXPECT_EQ(zarn::format_named(row.name), row.format);
    }
  }
  EXPECT_EQ(zarn::format_named("sound"), std::nullopt);  // read only
  EXPECT_EQ(zarn::written_formats(), (std::vector<zarn::Format>{zarn::Format::kList, zarn::Format::kSdif, zarn::Format::kSpearPartials,
                                                                zarn::Format::kSpearFrames, zarn::Format::kAts}));
  EXPECT_TRUE(zarn::is_frame_format(zarn::Format::kSpearFrames));
  EXPECT_FALSE(zarn::is_frame_format(zarn::Format::kSpearPartials));
}

}  // namespace

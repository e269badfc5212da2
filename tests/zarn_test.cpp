// Runs the built binary and checks its whole output, its exit status and the files it leaves.
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <cmath>
#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "run_binary.hpp"

namespace {

using zarn_test::run_zarn;
using zarn_test::RunOptions;
using zarn_test::slurp;
using zarn_test::spill;
using zarn_test::TempDir;

using zarn_test::data;
using zarn_test::exists;
using zarn_test::kBanner;
using zarn_test::kPrompt;

const std::string kUsage =
    "USAGE:\n"
    "      zarn <infile> <dur>\n"
    "           <infile> is in LISP IRCAM format\n"
    "           <dur> = time spacing between resampled breakpoints\n";

// ------------------------------------------------------------ golden runs

struct Golden {
  const char* input;    // in tests/data
  const char* step;     // nullptr: no second argument
  const char* listing;  // expected standard output
  const char* result;   // expected file
};

void PrintTo(const Golden& g, std::ostream* os) { *os << g.input << " " << (g.step ? g.step : "(default step)"); }

class GoldenRun : public ::testing::TestWithParam<Golden> {};

TEST_P(GoldenRun, ListingAndFileMatchByteForByte) {
  const Golden& g = GetParam();
  TempDir dir;
  spill(dir / "in.txt", data(g.input));
  std::vector<std::string> args = {"in.txt"};
  if (g.step != nullptr) args.push_back(g.step);
  const auto run = run_zarn(args, dir.path(), {"out.txt\n"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, data(g.listing));
  EXPECT_EQ(slurp(dir / "out.txt"), data(g.result));
}

INSTANTIATE_TEST_SUITE_P(
    Files, GoldenRun,
    ::testing::Values(Golden{"edge.txt", "0.1", "edge-0.1.listing", "edge-0.1.result"},
                      Golden{"edge.txt", nullptr, "edge-0.05.listing", "edge-0.05.result"},
                      Golden{"crlf.txt", "0.005", "crlf-0.005.listing", "crlf-0.005.result"},
                      Golden{"empty.txt", "0.05", "empty-0.05.listing", "empty-0.05.result"},
                      // levels near 400 dB show every bit of the parabola's end slope
                      Golden{"loud3.txt", "0.05", "loud3-0.05.listing", "loud3-0.05.result"}),
    [](const ::testing::TestParamInfo<Golden>& param_info) {
      std::string name = std::string(param_info.param.listing);
      for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
      return name;
    });

TEST(Run, ExampleAnalysisGivesItsExpectedResult) {
  TempDir dir;
  const auto run = run_zarn({std::string(ZARN_SOURCE_DIR) + "/examples/violin.txt", "0.01"}, dir.path(), {"out.txt\n"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(slurp(dir / "out.txt"), slurp(std::string(ZARN_SOURCE_DIR) + "/examples/violin-0.01.txt"));
}

// ------------------------------------------------------------ scripted runs

// Runs with options on edge.txt at step 0.1, as a script would: what each prints, its status
// and the file it leaves.
TEST(Scripted, StreamsStatusAndFile) {
  const std::string result = data("edge-0.1.result");
  const std::string more = "Try 'zarn --help' for more information.\n";
  const struct {
    std::vector<std::string> args;
    std::string stdin_text;
    int status;
    std::string out, err;
    std::string saved;  // what out.txt holds afterwards ("" when absent)
  } cases[] = {
      {{"-q", "-o", "out.txt", "in.txt", "0.1"}, "", 0, "", "", result},
      {{"in.txt", "0.1", "-o", "out.txt"}, "", 0, data("edge-0.1.listing").substr(0, data("edge-0.1.listing").find(kPrompt)),
       "zarn: warning: 1 of 12 partials are shorter than the step 0.1 and have no points\n", result},
      {{"-o", "-", "in.txt", "0.1"}, "", 0, result, "", ""},
      {{"-q", "-o", "out.txt", "-", "0.1"}, data("edge.txt"), 0, "", "", result},
      {{"-", "0.1"}, data("edge.txt"), 1, "",
       "zarn: the analysis comes on standard input, so the dialogue cannot ask for a name there: name the output with -o FILE\n", ""},
      {{"-q", "-o", "in.txt", "in.txt", "0.1"}, "", 1, "", "zarn: in.txt: exists; nothing saved (--force replaces it)\n", ""},
      {{"-q", "-o", "out.txt", "nope.txt"}, "", 1, "", "zarn: nope.txt: No such file or directory\n", ""},
      {{"-v", "in.txt"}, "", 1, "", "zarn: invalid option -- 'v'\n" + more, ""},
      {{"in.txt", "0.1", "out.txt", "x"}, "out.txt\n", 0, data("edge-0.1.listing"), "zarn: warning: ignoring extra arguments 'out.txt' 'x'\n", result},
      {{"-q", "-o", "sub/", "in.txt", "0.1"}, "", 1, "", "zarn: sub/: is a directory; nothing saved\n", ""},
      {{"-q", "--force", "-o", "sub", "in.txt", "0.1"}, "", 1, "", "zarn: sub: is a directory; nothing saved\n", ""},
      {{"-q", "-o", "out.txt", "--plot=nodir/p.svg", "in.txt", "0.1"}, "", 1, "", "zarn: nodir/p.svg: No such file or directory; nothing saved\n", ""},
      {{"-q", "--force", "in.txt", "0.1"}, "out.txt\n", 0, kPrompt + "Hello, World!\n",
       "zarn: warning: --force has no effect without -o: the dialogue never replaces a file\n", result},
      {{"-q", "-o", "out.txt", "--rate=8000", "--plot-log", "in.txt", "0.1"}, "", 0, "",
       "zarn: warning: --rate has no effect without --wav\nzarn: warning: --plot-log has no effect without --plot\n", result},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    TempDir dir;
    spill(dir / "in.txt", data("edge.txt"));
    ASSERT_EQ(::mkdir((dir / "sub").c_str(), 0700), 0);
    const auto run = run_zarn(c.args, dir.path(), {c.stdin_text});
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(slurp(dir / "out.txt"), c.saved);
    EXPECT_EQ(slurp(dir / "in.txt"), data("edge.txt"));
  }
}

// Edits on the way: the one partial of edge.txt near 440 Hz, twice as long and an octave up,
// gives what the same partial changed by hand gives.
TEST(Scripted, EditsActAsIfTheFileHadBeenEditedByHand) {
  TempDir dir;
  spill(dir / "in.txt", data("edge.txt"));
  spill(dir / "hand.txt", "( PARTIALS 1 ( POINTS 4 0 880 -20 0.6 880 -20 1.2 880 -20 2.0 880 -20 ) )");
  const auto edited = run_zarn({"-o", "-", "--band=439:441", "--time-scale=2", "--transpose=1200", "in.txt", "0.1"}, dir.path());
  const auto by_hand = run_zarn({"-o", "-", "hand.txt", "0.1"}, dir.path());
  EXPECT_EQ(edited.status, 0);
  EXPECT_EQ(edited.out, by_hand.out);
  EXPECT_EQ(edited.out.substr(0, 13), "( PARTIALS\t1\n");
}

// --info writes nothing and says what the input holds; -q leaves only the status; a run that
// reads no partials says what it passed over.
TEST(Scripted, InfoAndEmptyReads) {
  TempDir dir;
  spill(dir / "in.txt", data("edge.txt"));
  std::string chords = std::string("SDIF\0\0\0\x08\0\0\0\3\0\0\0\1", 16);
  for (int f = 0; f < 2; ++f) chords += std::string("1MRK\0\0\0\x10", 8) + std::string(16, '\0');
  spill(dir / "chords.sdif", chords);
  auto run = run_zarn({"--info", "in.txt", "0.1"}, dir.path());
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("\nPartials         : 12\n"), std::string::npos) << run.out;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run_zarn({"-q", "--info", "in.txt"}, dir.path()).out, "");
  EXPECT_EQ(dir.list(), (std::vector<std::string>{"chords.sdif", "in.txt"}));
  run = run_zarn({"-q", "-o", "out.txt", "chords.sdif"}, dir.path());
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "zarn: warning: chords.sdif: no partials read: no 1TRC or 1HRM frames; 2 1MRK frames passed over\n");
  // No output replaces the input it is made from, --force or not, by any name.
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"-q", "--force", "-o", "in.txt", "in.txt", "0.1"}, {"-q", "--force", "-o", "x.txt", "--f0=./in.txt", "in.txt", "0.1"}}) {
    run = run_zarn(args, dir.path());
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("is the input that the result is made from; nothing saved"), std::string::npos) << run.err;
  }
  EXPECT_EQ(slurp(dir / "in.txt"), data("edge.txt"));
  // --harmonic on partials of no harmonic series (a bell's) leaves none, and says so.
  spill(dir / "bell.txt", "( PARTIALS 4\n( POINTS 3\n0 300 -20\n0.5 300 -20\n1 300 -20\n)\n( POINTS 3\n0 737.3 -20\n0.5 737.3 -20\n1 737.3 -20\n)\n"
                          "( POINTS 3\n0 1591.7 -20\n0.5 1591.7 -20\n1 1591.7 -20\n)\n( POINTS 3\n0 2203.9 -20\n0.5 2203.9 -20\n1 2203.9 -20\n)\n)\n");
  run = run_zarn({"-q", "-o", "bell-h.txt", "--harmonic", "bell.txt", "0.1"}, dir.path());
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "zarn: warning: bell.txt: --harmonic left no partial: none lies on a harmonic of a fundamental found\n");
}

TEST(Scripted, ForceReplacesAndRepeatedTimesAreWarnedOf) {
  TempDir dir;
  spill(dir / "in.txt", data("edge.txt"));
  spill(dir / "out.txt", "old");
  auto run = run_zarn({"-q", "--force", "-o", "out.txt", "in.txt", "0.1"}, dir.path());
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(slurp(dir / "out.txt"), data("edge-0.1.result"));
  // Two breakpoints 0.0004 apart at a step of 0.0001: the times written with three decimals repeat.
  spill(dir / "fine.txt", "( PARTIALS 2 ( POINTS 0 ) ( POINTS 2 1 440 -20 1.0004 440 -20 ) )");
  run = run_zarn({"-q", "--force", "-o", "out.txt", "fine.txt", "0.0001"}, dir.path());
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err,
            "zarn: warning: the times written for partial 2 repeat at 1.000 (three decimals cannot tell them apart at this "
            "time step); zarn cannot read this file back, since its times do not rise\n");
  EXPECT_EQ(dir.list(), (std::vector<std::string>{"fine.txt", "in.txt", "out.txt"}));
}

// Noise that the result's format cannot hold is said to be left out, once (not with -q); ATS
// keeps it and says nothing.
TEST(Scripted, NoiseLeftOutIsSaid) {
  TempDir dir;
  spill(dir / "in.ats", data("atsa-type4.ats"));
  auto run = run_zarn({"-o", "out.txt", "in.ats", "0.01"}, dir.path());
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "zarn: warning: the noise beside the partials (25 bands) is left out: the list format cannot hold it (ATS can)\n");
  run = run_zarn({"-q", "-o", "quiet.txt", "in.ats", "0.01"}, dir.path());
  EXPECT_EQ(run.err, "");
  run = run_zarn({"-o", "out.ats", "in.ats", "0.01"}, dir.path());
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(slurp(dir / "out.ats").substr(72, 8), std::string("\0\0\0\0\0\0\x10@", 8));  // type 4.0
}

TEST(Scripted, PictureAndSoundBesideTheResult) {
  TempDir dir;
  spill(dir / "in.sdif", data("hetro-saw220.sdif"));
  std::vector<std::string> args = {"-q", "-o", "out.txt", "--plot=p.svg", "in.sdif", "0.01"};
#ifdef ZARN_HAVE_SNDFILE
  args.push_back("--wav=s.wav");
#endif
  auto run = run_zarn(args, dir.path());
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, "");
  EXPECT_NE(slurp(dir / "p.svg").find("</svg>"), std::string::npos);
#ifdef ZARN_HAVE_SNDFILE
  EXPECT_EQ(slurp(dir / "s.wav").substr(0, 4), "RIFF");
#endif
#ifdef ZARN_HAVE_PNG
  run = run_zarn({"-q", "-o", "png.txt", "--plot=p.PNG", "in.sdif", "0.01"}, dir.path());
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(slurp(dir / "p.PNG").substr(0, 8), "\x89PNG\r\n\x1a\n");
#endif
  // An existing picture is refused before anything is read or written.
  args[2] = "again.txt";
  run = run_zarn(args, dir.path());
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "zarn: p.svg: exists; nothing saved (--force replaces it)\n");
  EXPECT_FALSE(exists(dir / "again.txt"));
#ifdef ZARN_HAVE_SNDFILE
  // A sound that fails after the result was saved says so, and the status says it failed.
  spill(dir / "loud.txt", "( PARTIALS 1 ( POINTS 4 0 440 1000 0.1 440 1000 0.2 440 1000 0.3 440 1000 ) )");
  run = run_zarn({"-q", "-o", "loud-out.txt", "--wav=loud.wav", "loud.txt", "0.01"}, dir.path());
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "zarn: loud.wav: the sound's samples go beyond what a sound file holds (levels far above 0 dB); the "
                     "sound was not saved; the result was, in loud-out.txt\n");
  EXPECT_TRUE(exists(dir / "loud-out.txt"));
  EXPECT_FALSE(exists(dir / "loud.wav"));
#endif
}

// What can be refused is refused before anything is saved, result included: one file named
// for two outputs by two spellings, a picture's unknown ending, a sound that its container
// cannot hold empty.
TEST(Scripted, RefusedBeforeAnythingIsSaved) {
  TempDir dir;
  spill(dir / "in.txt", data("edge.txt"));
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"-q", "--force", "-o", "a.svg", "--plot=./a.svg", "in.txt"}, "zarn: './a.svg' and 'a.svg' name one file for two outputs; nothing saved\n"},
      {{"-q", "-o", "out.txt", "--plot=p.jpg", "in.txt"},
       "zarn: p.jpg: the name must end in .svg, .png or .html, which choose the picture's kind (or have no ending, for SVG)\n"},
#ifdef ZARN_HAVE_SNDFILE
      {{"-q", "-o", "out.txt", "--max-partials=0", "--wav=s.flac", "in.txt"},
       "zarn: s.flac: the result holds no sound (no partial has a point), and a .flac file cannot be empty (a .wav or .caf file "
       "can); nothing saved\n"},
#endif
  };
  for (const auto& c : cases) {
    const auto run = run_zarn(c.args, dir.path());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(dir.list(), (std::vector<std::string>{"in.txt"}));
  }
}

// No output replaces a file the result is made from, breakpoints' files included, and what
// reading back would change is said: each case leaves the files as they were, or warns.
TEST(Scripted, FilesTheResultIsMadeFromStayAndFiguresReadBack) {
  TempDir dir;
  spill(dir / "in.txt", data("edge.txt"));
  spill(dir / "c.txt", "0 0\n1 100\n");
  spill(dir / "w.txt", "0 0\n1 2\n");
  spill(dir / "c.svg", "0 0\n1 100\n");
  const struct {
    std::vector<std::string> args;
    std::string err;  // its start
  } cases[] = {
      {{"-q", "-o", "c.txt", "--force", "--transpose=@c.txt", "in.txt", "0.01"},
       "zarn: c.txt: holds breakpoints that the result is made from; nothing saved (--force replaces no input)\n"},
      {{"-q", "-o", "x.txt", "--force", "--warp=@w.txt", "--plot=./w.txt", "in.txt", "0.01"}, "zarn: ./w.txt: holds breakpoints that the result"},
      {{"-q", "-o", "x.txt", "--force", "--plot=c.svg", "--transpose=@c.svg", "in.txt", "0.01"}, "zarn: c.svg: holds breakpoints that the result"},
      // A recipe is read before the input: here the input is no analysis at all.
      {{"-q", "-o", "x.txt", "--edits=c.txt", "c.svg", "0.01"}, "zarn: c.txt:1:3: byte 2: not a recipe: more text after the value\n"},
      {{"-q", "-o", "x.txt", "--edits=/dev/zero", "c.svg", "0.01"}, "zarn: /dev/zero: is not a file of text but a device"},
      {{"-q", "-o", "x.txt", "--morph=0.5", "--morph-with=gone.txt", "c.svg", "0.01"}, "zarn: gone.txt: No such file or directory\n"},
      {{"-q", "-o", "x.txt", "--transpose=0:0,1:-1e308", "in.txt", "0.01"}, "zarn: in.txt:"},
      // A grid refused after a time map names the line the partial was read at.
      {{"-q", "-o", "x.txt", "--warp=0:0,1:1e12", "in.txt", "0.0001"}, "zarn: in.txt:2: this partial would have more than 2147483647"},
  };
  for (const auto& c : cases) {
    const auto run = run_zarn(c.args, dir.path());
    EXPECT_EQ(run.status, 1) << c.args[4];
    EXPECT_EQ(run.err.substr(0, c.err.size()), c.err) << run.err;
    EXPECT_EQ(dir.list(), (std::vector<std::string>{"c.svg", "c.txt", "in.txt", "w.txt"})) << c.args[4];
  }
  EXPECT_EQ(slurp(dir / "c.txt"), "0 0\n1 100\n");
  auto run = run_zarn({"-q", "-o", "x.txt", "--transpose=0:0,1:-1e308", "in.txt", "0.01"}, dir.path());
  EXPECT_NE(run.err.find("frequency of this partial is 0 Hz, which no format holds"), std::string::npos) << run.err;
  // Beyond the list's 22050 Hz (440 Hz up by 5.7 octaves), or below every reader's 4 Hz, saved
  // as it is, and said; what the format holds, not.
  spill(dir / "a.txt", "( PARTIALS 1\n( POINTS 2\n0 440 -20\n1 440 -20\n)\n)\n");
  const struct {
    const char* output;
    const char* cents;
    std::string warning;
  } moved[] = {
      {"x.txt", "--transpose=6840", "zarn: warning: a.txt: 20 frequencies lie outside the 4 to 22050 Hz that list files are read with (the first: partial 1, 22873 Hz at 0 s); they are written as they are, but read back they are held to that range\n"},
      {"y.txt", "--transpose=6770", ""},
      {"x.sdif", "--transpose=6840", ""},
      {"z.sdif", "--transpose=-8200", "zarn: warning: a.txt: 21 frequencies lie below the 4 Hz that sdif files are read with (the first: partial 1, "},
      {"w.sdif", "--transpose=-8100", ""},
  };
  for (const auto& m : moved) {
    run = run_zarn({"-q", "-o", m.output, m.cents, "a.txt", "0.05"}, dir.path());
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err.substr(0, m.warning.size()), m.warning) << m.output << " " << m.cents;
    EXPECT_EQ(run.err.empty(), m.warning.empty()) << run.err;
  }
}

// Curves of gain that carry the noise past any number, or times mapped past any file, are
// refused, never written as numbers that do not read back.
TEST(Scripted, NoiseCarriedBeyondNumbersIsRefused) {
  TempDir dir;
  spill(dir / "in.ats", data("atsa-type3.ats"));
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"--noise-gain=0:0,30:1e300"}, "after --gain or --noise-gain the noise's power is not finite"},
      {{"--gain=0:0,1:6000"}, "after --gain or --noise-gain the noise's power is not finite"},
      {{"--max-partials=0", "--time-scale=1e300"}, "an ATS file of more than 1000000000000000000 frames"},
      {{"--max-partials=0", "--freeze=0.1:1e300"}, "an ATS file of more than 1000000000000000000 frames"},
      {{"--max-partials=0", "--warp=0:0,1:1e300"}, "an ATS file of more than 1000000000000000000 frames"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"-q", "-o", "out.ats"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.insert(args.end(), {"in.ats", "0.01"});
    const auto run = run_zarn(args, dir.path());
    EXPECT_EQ(run.status, 1) << c.args[0];
    EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
    EXPECT_FALSE(exists(dir / "out.ats"));
  }
  const auto plain = run_zarn({"-q", "-o", "out.ats", "--noise-gain=0:0,30:6", "in.ats", "0.01"}, dir.path());
  EXPECT_EQ(plain.status, 0) << plain.err;
}

// The page's command lines name an input that begins with '-' so that it stays an input.
TEST(Scripted, PageNamesAnInputLikeAnOptionAsAFile) {
  TempDir dir;
  spill(dir / "-in.txt", data("edge.txt"));
  const auto run = run_zarn({"-q", "-o", "x.txt", "--plot=p.html", "--", "-in.txt", "0.05"}, dir.path());
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(slurp(dir / "p.html").find("kept.txt ./-in.txt 0.05"), std::string::npos);
}

// --normalize scales the sound so that its peak is the level asked, in amplitude decibels; a
// silent sound is left as it is, and said to be.
TEST(Scripted, NormalizedSound) {
  TempDir dir;
  spill(dir / "in.txt", data("edge.txt"));
  auto run = run_zarn({"-q", "-o", "out.txt", "--normalize=-6", "--wav=n.wav", "in.txt", "0.1"}, dir.path());
  EXPECT_EQ(run.status, 0) << run.err;
  const std::string wav = slurp(dir / "n.wav");
  ASSERT_GT(wav.size(), 58u);
  float peak = 0;
  for (std::size_t at = 58; at + 4 <= wav.size(); at += 4) {
    float v;
    std::memcpy(&v, wav.data() + at, 4);
    peak = std::max(peak, std::fabs(v));
  }
  EXPECT_NEAR(peak, std::pow(10.0, -6.0 / 20), 1e-6);
  run = run_zarn({"-o", "none.txt", "--max-partials=0", "--normalize", "--wav=silent.wav", "in.txt", "0.1"}, dir.path());
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.err.find("zarn: warning: silent.wav: the sound is silent, so --normalize leaves it as it is\n"), std::string::npos)
      << run.err;
  run = run_zarn({"--info", "-o", "x.txt", "--band=1:100", "in.txt"}, dir.path());
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "zarn: warning: -o and the edits have no effect with --info, which writes nothing\n");
  run = run_zarn({"--info", "--warp=0:0,1:2", "in.txt"}, dir.path());
  EXPECT_EQ(run.err, "zarn: warning: the edits have no effect with --info, which writes nothing\n");
}

// ------------------------------------------------------------ refusals before any listing

TEST(Run, NoArgumentsPrintsOnlyTheUsage) {
  TempDir dir;
  const auto run = run_zarn({}, dir.path());
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, kUsage);
  EXPECT_EQ(run.err, "");
}

TEST(Run, HelpAndVersion) {
  TempDir dir;
  const auto help = run_zarn({"--help"}, dir.path());
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.err, "");
  // It opens with the usage of every form, naming the input as the rest of the help does.
  EXPECT_EQ(help.out.substr(0, 83), "Usage: zarn [OPTION]... INFILE [DUR]\n       zarn [OPTION]... --step=DUR INFILE...\n\n");
  EXPECT_EQ(help.out.find("LISP IRCAM"), std::string::npos);
  EXPECT_NE(help.out.find("echo out.txt | zarn analysis.txt 0.01\n"), std::string::npos);
  EXPECT_NE(help.out.find("Exit status:\n"), std::string::npos);
  const auto h = run_zarn({"-h", "ignored"}, dir.path());
  EXPECT_EQ(h.status, 0);
  EXPECT_EQ(h.out, help.out);
  const auto version = run_zarn({"--version"}, dir.path());
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.substr(0, version.out.find('\n') + 1), "zarn " ZARN_VERSION "\n");
  EXPECT_NE(version.out.find("GPL-3.0-or-later"), std::string::npos);
}

TEST(Run, AFileNamedLikeAnOptionIsStillAnInput) {
  TempDir dir;
  spill(dir / "--help", data("edge.txt"));
  const auto run = run_zarn({"./--help", "0.1"}, dir.path(), {"out.txt\n"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, data("edge-0.1.listing"));
  const auto dashed = run_zarn({"--", "--help", "0.1"}, dir.path(), {"out2.txt\n"});
  EXPECT_EQ(dashed.out, data("edge-0.1.listing"));
}

TEST(Run, MissingInputGetsTheBannerThenNotFound) {
  TempDir dir;
  for (const char* step : {"0.05", "abc"}) {  // the step is not looked at before the file opens
    const auto run = run_zarn({"nope.txt", step}, dir.path());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, kBanner + "File nope.txt not found\n");
    EXPECT_EQ(run.err, "");
  }
}

// ------------------------------------------------------------ the save dialogue

// Runs edge.txt at step 0.1 with `typed` on standard input; returns what followed the listing.
struct Dialogue {
  zarn_test::RunResult run;
  std::string after_listing;
};

Dialogue converse(const TempDir& dir, const std::string& typed, long size_limit = -1) {
  spill(dir / "in.txt", data("edge.txt"));
  RunOptions options{typed};
  options.file_size_limit = size_limit;
  Dialogue d{run_zarn({"in.txt", "0.1"}, dir.path(), options), ""};
  std::string listing = data("edge-0.1.listing");
  listing.resize(listing.find(kPrompt));
  EXPECT_EQ(d.run.out.substr(0, listing.size()), listing);
  if (d.run.out.size() >= listing.size()) d.after_listing = d.run.out.substr(listing.size());
  return d;
}

TEST(Save, TheInputsOwnNameIsRefusedThenANewOneTaken) {
  TempDir dir;
  const auto d = converse(dir, "in.txt\r\nout.txt\r\n");  // a carriage return ends the name too
  EXPECT_EQ(d.after_listing, kPrompt + "File in.txt exists\n" + kPrompt + "Hello, World!\n");
  EXPECT_EQ(d.run.status, 0);
  EXPECT_EQ(slurp(dir / "out.txt"), data("edge-0.1.result"));
  EXPECT_EQ(slurp(dir / "in.txt"), data("edge.txt"));
}

TEST(Save, TwoExistingNamesThenANewOne) {
  TempDir dir;
  spill(dir / "a.txt", "keep a");
  const auto d = converse(dir, "a.txt\nin.txt\nb.txt\n");
  EXPECT_EQ(d.after_listing, kPrompt + "File a.txt exists\n" + kPrompt + "File in.txt exists\n" + kPrompt + "Hello, World!\n");
  EXPECT_EQ(d.run.status, 0);
  EXPECT_EQ(slurp(dir / "a.txt"), "keep a");
  EXPECT_EQ(dir.list(), (std::vector<std::string>{"a.txt", "b.txt", "in.txt"}));
}

TEST(Save, TwoWordsOnOneLineAnswerTwoPrompts) {
  TempDir dir;
  const auto d = converse(dir, "  in.txt\tout.txt  ignored\n");
  EXPECT_EQ(d.after_listing, kPrompt + "File in.txt exists\n" + kPrompt + "Hello, World!\n");
  EXPECT_TRUE(exists(dir / "out.txt"));
  EXPECT_FALSE(exists(dir / "ignored"));
}

TEST(Save, NamesLongerThan255CharactersAreUsedWhole) {
  TempDir dir;
  const std::string a(200, 'a'), b(200, 'b');
  ASSERT_EQ(::mkdir((dir / a).c_str(), 0700), 0);
  ASSERT_EQ(::mkdir((dir / (a + "/" + b)).c_str(), 0700), 0);
  const std::string name = a + "/" + b + "/out.txt";
  const auto d = converse(dir, name + "\n");
  EXPECT_EQ(d.after_listing, kPrompt + "Hello, World!\n");
  EXPECT_EQ(slurp(dir / name), data("edge-0.1.result"));
}

TEST(Save, TheSavedFileReadsBackWithTheCountsWritten) {
  TempDir dir;
  converse(dir, "out.txt\n");
  const auto back = run_zarn({"out.txt", "0.1"}, dir.path(), {"again.txt\n"});
  EXPECT_EQ(back.status, 0);
  EXPECT_EQ(back.err, "");
  // The counts written are those the listing announced; reading them back gives the same set.
  const std::string again = slurp(dir / "again.txt");
  EXPECT_EQ(again.substr(0, again.find('\n')), "( PARTIALS\t12");
}

}  // namespace

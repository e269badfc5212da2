// The command line: each option in its forms, operands around options, and every error.
#include "app/options.hpp"

#include "app/option_rows.hpp"

#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/help.hpp"
#include "model/failure.hpp"
#include "run_binary.hpp"
#include "support.hpp"

namespace {

using Mode = zarn::Options::Mode;

using zarn_test::parse;

std::string refusal(const std::vector<std::string>& args) {
  try {
    parse(args);
  } catch (const zarn::Failure& f) {
    return f.message;
  }
  return "accepted";
}

TEST(Options, Forms) {
  const struct {
    std::vector<std::string> args;
    Mode mode;
    std::string input, step, output;
    bool force, quiet;
    std::vector<std::string> extra;
  } cases[] = {
      {{}, Mode::kUsage, "", "", "", false, false, {}},
      {{"in.txt"}, Mode::kRun, "in.txt", "", "", false, false, {}},
      {{"in.txt", "0.01", "out.txt", "x"}, Mode::kRun, "in.txt", "0.01", "", false, false, {"out.txt", "x"}},
      {{"-q", "-o", "out.txt", "in.txt", "0.01"}, Mode::kRun, "in.txt", "0.01", "out.txt", false, true, {}},
      {{"in.txt", "--output=out.txt", "0.01", "--quiet"}, Mode::kRun, "in.txt", "0.01", "out.txt", false, true, {}},
      {{"--output", "out.txt", "--force", "in.txt"}, Mode::kRun, "in.txt", "", "out.txt", true, false, {}},
      {{"-qoout.txt", "in.txt"}, Mode::kRun, "in.txt", "", "out.txt", false, true, {}},
      {{"-o", "-", "-", "0.01"}, Mode::kRun, "-", "0.01", "-", false, true, {}},  // -o - implies -q
      {{"--", "-in.txt", "-q"}, Mode::kRun, "-in.txt", "-q", "", false, false, {}},
      {{"in.txt", "-0.1"}, Mode::kRun, "in.txt", "-0.1", "", false, false, {}},  // a negative step stays an operand
      {{"-o", "-0.5", "in.txt"}, Mode::kRun, "in.txt", "", "-0.5", false, false, {}},
      {{"--help", "in.txt"}, Mode::kHelp, "", "", "", false, false, {}},
      {{"-h"}, Mode::kHelp, "", "", "", false, false, {}},
      {{"--vers"}, Mode::kVersion, "", "", "", false, false, {}},
      {{"--help", "--version"}, Mode::kHelp, "", "", "", false, false, {}},  // help wins, in either order
      {{"--version", "-h"}, Mode::kHelp, "", "", "", false, false, {}},
      {{"--plot=p.svg", "--wav", "s.wav", "--rate=48000", "in.txt"}, Mode::kRun, "in.txt", "", "", false, false, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const zarn::Options o = parse(c.args);
    EXPECT_EQ(o.mode, c.mode);
    EXPECT_EQ(o.input, c.input);
    EXPECT_EQ(o.step.value_or(""), c.step);
    EXPECT_EQ(o.output, c.output);
    EXPECT_EQ(o.force, c.force);
    EXPECT_EQ(o.quiet, c.quiet);
    EXPECT_EQ(o.extra, c.extra);
  }
  const zarn::Options o = parse({"--plot=p.svg", "--plot-log", "--wav", "s.wav", "--rate=48000", "in.txt"});
  EXPECT_EQ(o.extra_outputs(), (std::vector<std::string>{"p.svg", "s.wav"}));
  EXPECT_TRUE(o.plot_log);
  EXPECT_EQ(o.rate, 48000);
  EXPECT_TRUE(o.rate_given);
  for (const char* rate : {"--rate=1000", "--rate=768000"}) EXPECT_EQ(parse({rate, "in.txt"}).rate, std::stoi(rate + 7));
  EXPECT_FALSE(parse({"in.txt"}).rate_given);
  const zarn::Options e = parse({"--band=100:2e3", "--min-duration=0.1", "--min-level=-60", "--max-partials=8",
                                 "--time-scale=1.5", "--transpose=-1200", "--gain=-6", "in.txt"});
  EXPECT_EQ(e.edits.keep.band_lo, 100);
  EXPECT_EQ(e.edits.keep.band_hi, 2000);
  EXPECT_EQ(e.edits.keep.min_duration, 0.1);
  EXPECT_EQ(e.edits.keep.min_level, -60);
  EXPECT_EQ(e.edits.keep.max_partials, 8);
  EXPECT_EQ(e.edits.scale.time, 1.5);
  EXPECT_EQ(e.edits.scale.cents, -1200);
  EXPECT_EQ(e.edits.scale.gain, -6);
  EXPECT_FALSE(parse({"in.txt"}).edits.keep.any() || parse({"in.txt"}).edits.scale.any());
  const zarn::Options f = parse({"--fit=monotone", "--whole", "in.txt"});
  EXPECT_EQ(f.fit, zarn::Fit::kMonotone);
  EXPECT_TRUE(f.whole);
  EXPECT_FALSE(parse({"in.txt"}).fit);
}

TEST(Options, FormatAndGrid) {
  const struct {
    std::vector<std::string> args;
    zarn::Format format;
    bool aligned;
  } cases[] = {
      {{"in.txt"}, zarn::Format::kList, false},
      {{"-o", "out.sdif", "in.txt"}, zarn::Format::kSdif, true},
      {{"-o", "OUT.SDIF", "in.txt"}, zarn::Format::kSdif, true},
      {{"-f", "list", "-o", "out.sdif", "in.txt"}, zarn::Format::kList, false},
      {{"--format=spear-partials", "in.txt"}, zarn::Format::kSpearPartials, false},
      {{"--format", "spear-partials", "--align", "in.txt"}, zarn::Format::kSpearPartials, true},
      {{"-fspear-frames", "in.txt"}, zarn::Format::kSpearFrames, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const zarn::Options o = parse(c.args);
    EXPECT_EQ(o.result_format(), c.format);
    EXPECT_EQ(o.aligned_grid(), c.aligned);
  }
}

// The kinds the table of options gives each option: what the page's command line keeps (the
// options that shape the partials, in their order, not the filters or what names outputs),
// what applies to sounds only, and what names an output that needs every partial.
TEST(Options, KindsFromTheirRows) {
  const zarn::Options o = parse({"-q", "-fsdif", "--hop=0.01", "--band=100:200", "--plot=p.svg", "--transpose=-300", "--whole",
                                 "--plot-floor=-60", "--no-noise", "-o", "o.sdif", "in.wav"});
  EXPECT_EQ(o.shaping, (std::vector<std::string>{"--format=sdif", "--hop=0.01", "--transpose=-300", "--whole", "--no-noise"}));
  EXPECT_EQ(o.read.sound_options, (std::vector<std::string>{"--hop", "--no-noise"}));
  EXPECT_NE(o.given & zarn::kExtraOutput, 0u);
  EXPECT_NE(o.given & zarn::kNeedsEveryPartial, 0u);
  const zarn::Options plain = parse({"-q", "--plot-log", "--rate=48000", "--fit=linear", "-o", "o.txt", "in.txt"});
  EXPECT_TRUE(plain.read.sound_options.empty());
  EXPECT_EQ(plain.given & (zarn::kExtraOutput | zarn::kNeedsEveryPartial | zarn::kSoundsOnly), 0u);
  EXPECT_EQ(plain.shaping, (std::vector<std::string>{"--fit=linear"}));
}

TEST(Options, Errors) {
  const std::string more = "Try 'zarn --help' for more information.\n";
  const struct {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{"-v", "in.txt"}, "zarn: invalid option -- 'v'\n"},
      {{"--x", "in.txt"}, "zarn: unrecognized option '--x'\n"},
      {{"--x=1", "in.txt"}, "zarn: unrecognized option '--x'\n"},
      {{"in.txt", "-o"}, "zarn: option requires an argument -- 'o'\n"},
      {{"in.txt", "--output"}, "zarn: option '--output' requires an argument\n"},
      {{"--quiet=yes", "in.txt"}, "zarn: option '--quiet' doesn't allow an argument\n"},
      {{"-o", "", "in.txt"}, "zarn: the output file name given with -o is empty\n"},
      {{"-q"}, "zarn: no input file given\n"},
      {{"-f", "wav", "in.txt"}, "zarn: unknown format 'wav' (list, sdif, spear-partials, spear-frames or ats)\n"},
      {{"--wav=s.wav", "--rate=999", "in.txt"}, "zarn: the sample rate must be a whole number of hertz from 1000 to 768000, not '999'\n"},
      {{"--plot=-", "in.txt"}, "zarn: --plot needs the name of a file\n"},
      {{"--wav=s.wav", "--rate=768001", "in.txt"}, "zarn: the sample rate must be a whole number of hertz from 1000 to 768000, not '768001'\n"},
      {{"--plot=a.svg", "-o", "a.svg", "in.txt"}, "zarn: 'a.svg' is named for two outputs\n"},
      {{"--plot=p.svg", "--plot-range=2:1", "in.txt"}, "zarn: --plot-range=2:1: LO and HI must be finite, LO below HI\n"},
      {{"--plot=p.svg", "--plot-dots=maybe", "in.txt"}, "zarn: --plot-dots takes yes or no, not 'maybe'\n"},
      {{"--plot=p.svg", "--plot-log", "--plot-band=0:100", "in.txt"},
       "zarn: --plot-band's low end must be above 0 Hz on --plot-log's logarithmic axis\n"},
      {{"--fit=cubic", "in.txt"}, "zarn: unknown fit 'cubic' (spline, monotone or linear)\n"},
      {{"--band=500:100", "in.txt"}, "zarn: --band=500:100: the band's low end lies above its high end\n"},
      {{"--band=100", "in.txt"}, "zarn: --band needs LO:HI, two frequencies in hertz, not '100'\n"},
      {{"--band=0:inf", "in.txt"}, "zarn: --band=0:inf: the band's ends must be finite numbers\n"},
      {{"--max-partials=-1", "in.txt"}, "zarn: --max-partials needs a whole number from 0 to 2147483647, not '-1'\n"},
      {{"--time-scale=0", "in.txt"}, "zarn: --time-scale=0: the time factor must be a finite number above zero\n"},
      {{"--transpose=nan", "in.txt"}, "zarn: --transpose needs a finite number, not 'nan'\n"},
      {{"--gain", "1e999", "in.txt"}, "zarn: --gain needs a finite number, not '1e999'\n"},
      {{"--min-duration=x", "in.txt"}, "zarn: --min-duration needs a finite number, not 'x'\n"},
      {{"--transpose=0:0,1:x", "in.txt"}, "zarn: --transpose=0:0,1:x: breakpoint 2 '1:x': the value is not a finite number\n"},
      {{"--time-scale=0:1,2:-1", "in.txt"}, "zarn: --time-scale=0:1,2:-1: breakpoint 2 '2:-1': the value must be above zero\n"},
      {{"--gain=1:2,0.5:3", "in.txt"}, "zarn: --gain=1:2,0.5:3: breakpoint 2 '0.5:3': the times must rise\n"},
      {{"--warp=0:1", "in.txt"}, "zarn: --warp=0:1: a warp needs two markers at least\n"},
      {{"--warp=0:1,1:0.5", "in.txt"}, "zarn: --warp=0:1,1:0.5: breakpoint 2 '1:0.5': the output times must rise\n"},
      {{"--freeze=1:0", "in.txt"}, "zarn: --freeze=1:0: the time must be finite, from 0, and the seconds held finite and above zero\n"},
      {{"--gain=@-", "in.txt"}, "zarn: --gain=@ needs the name of a file after '@'\n"},
      {{"--keep-attacks", "in.txt"}, "zarn: --keep-attacks needs --time-scale or --warp, a stretch to keep the attacks from\n"},
      {{"--warp=0:0,1:2", "--time-scale=0:1,1:2", "in.txt"}, "zarn: --warp and --time-scale both say where the input's times go: give one\n"},
      {{"--info", "in.txt", "0.01", "more.txt"}, "zarn: --info takes one input and a time step at most, not 'more.txt' too\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    EXPECT_EQ(refusal(c.args), c.message + more);
  }
}

// A curve of one value throughout is that number; breakpoints from a file, faults named by line.
TEST(Options, CurvesFromTextAndFiles) {
  const zarn::Options constant = parse({"--transpose=0:250,3:250", "--gain=-2", "in.txt"});
  EXPECT_EQ(constant.edits.scale.cents, 250);
  EXPECT_TRUE(constant.edits.shape.cents.empty());
  const zarn::Options falling = parse({"--transpose=0:100,1:50", "in.txt"});  // a curve, not its first value
  EXPECT_EQ(falling.edits.scale.cents, 0);
  EXPECT_EQ(falling.edits.shape.cents.values, (std::vector<double>{100, 50}));
  const std::string dir = ::testing::TempDir();
  std::ofstream(dir + "/curve.txt") << "# gain\n0 -6\n\n1.5 2 # up\n";
  std::ofstream(dir + "/bad.txt") << "0 -6\n1.5 x2\n";
  const zarn::Options varying = parse({"--gain=@" + dir + "/curve.txt", "in.txt"});
  EXPECT_EQ(varying.edits.shape.gain.times, (std::vector<double>{0, 1.5}));
  EXPECT_EQ(varying.edits.shape.gain.values, (std::vector<double>{-6, 2}));
  EXPECT_EQ(varying.edits.scale.gain, 0);
  EXPECT_EQ(refusal({"--gain=@" + dir + "/bad.txt", "in.txt"}), "zarn: " + dir + "/bad.txt:2: breakpoint 2 '1.5 x2': the value is not a finite number\n");
  std::ofstream(dir + "/none.txt") << "# nothing\n";
  EXPECT_EQ(refusal({"--gain=@" + dir + "/none.txt", "in.txt"}), "zarn: " + dir + "/none.txt: the file holds no breakpoint\n");
  // What is no file of text is refused at once, and what is larger than such a file may be
  // before it is read.
  EXPECT_EQ(refusal({"--gain=@/dev/zero", "in.txt"}), "zarn: /dev/zero: is not a file of text but a device: the breakpoints of /dev/zero must be a file\n");
  EXPECT_EQ(refusal({"--warp=@" + dir, "in.txt"}), "zarn: " + dir + ": cannot read: Is a directory\n");
  const std::string large = dir + "/large.txt";
  for (const long size : {16L << 20, (16L << 20) + 1}) {
    std::ofstream(large) << "0 1\n";
    ASSERT_EQ(::truncate(large.c_str(), size), 0);
    const std::string said = refusal({"--gain=@" + large, "in.txt"});
    // At the cap, read (its line of zero bytes is refused); one byte past it, refused unread.
    EXPECT_EQ(said.find("more than the 16.0 MiB such a file may hold") != std::string::npos, size > (16L << 20)) << said;
  }
  // Every file breakpoints came from is kept, so that no output replaces it.
  const zarn::Options two = parse({"--gain=@" + dir + "/curve.txt", "--transpose=@" + dir + "/curve.txt", "--gain=-3", "in.txt"});
  EXPECT_EQ(two.edits.curve_files, (std::vector<std::string>{dir + "/curve.txt", dir + "/curve.txt"}));
  // Of a number and breakpoints, the last given holds.
  const struct {
    std::vector<std::string> args;
    double cents, time;
    std::size_t cents_points, time_points;
  } last[] = {{{"--transpose=100", "--transpose=0:0,1:200"}, 0, 1, 2, 0},
              {{"--transpose=0:0,1:200", "--transpose=-100"}, -100, 1, 0, 0},
              {{"--time-scale=3", "--time-scale=0:1,1:2"}, 0, 1, 0, 2},
              {{"--time-scale=0:1,1:2", "--time-scale=0.5"}, 0, 0.5, 0, 0}};
  for (const auto& c : last) {
    std::vector<std::string> args = c.args;
    args.push_back("in.txt");
    const zarn::EditOptions e = parse(args).edits;
    EXPECT_EQ(e.scale.cents, c.cents) << args[0];
    EXPECT_EQ(e.scale.time, c.time) << args[0];
    EXPECT_EQ(e.shape.cents.times.size(), c.cents_points) << args[0];
    EXPECT_EQ(e.shape.time_factor.times.size(), c.time_points) << args[0];
  }
  // The stretch's one number goes to the map of times where one is made.
  const zarn::Options kept = parse({"--time-scale=4", "--keep-attacks", "in.txt"});
  EXPECT_EQ(zarn::scale_of(kept.edits).time, 1);
  EXPECT_EQ(zarn::scale_of(parse({"--time-scale=4", "in.txt"}).edits).time, 4);
  // A curve is over the input's time, so the stretch waits for it (and, by the map, comes with it).
  EXPECT_EQ(zarn::scale_of(parse({"--time-scale=4", "--transpose=0:0,1:100", "in.txt"}).edits).time, 1);
}

// Every option is in --help and in the man page, the edits' too (they come from their table);
// the fit table's rows stand in the order of their enum; every format written is in the docs.
TEST(Options, EveryOptionFitAndFormatDocumented) {
  std::string help;
  {
    zarn::Output out(&help);
    zarn::help(out);
    out.flush();
  }
  const std::string man = zarn_test::slurp(std::string(ZARN_SOURCE_DIR) + "/man/zarn.1.in");
  const std::string formats_doc = zarn_test::slurp(std::string(ZARN_SOURCE_DIR) + "/docs/formats.md");
  ASSERT_FALSE(man.empty());
  for (const std::string& name : zarn::long_option_names()) {
    EXPECT_NE(help.find("--" + name), std::string::npos) << name;
    std::string escaped;
    for (char c : name) escaped += c == '-' ? std::string("\\-") : std::string(1, c);
    EXPECT_NE(man.find("\\-\\-" + escaped), std::string::npos) << name;
  }
  for (const zarn::EditOption& edit : zarn::edit_options())
    EXPECT_NE(help.find("--" + std::string(edit.name) + (edit.kind == zarn::EditOption::Kind::kFlag ? " " : "=")), std::string::npos);
  for (std::size_t i = 0; i < zarn::fit_table().size(); ++i) {
    EXPECT_EQ(static_cast<std::size_t>(zarn::fit_table()[i].fit), i);
    EXPECT_NE(help.find(std::string(zarn::fit_table()[i].name) + " ("), std::string::npos);
  }
  for (const zarn::FormatRow& row : zarn::format_table()) {
    if (row.write == nullptr) continue;
    EXPECT_NE(formats_doc.find(std::string(row.name)), std::string::npos) << row.name;
  }
}

}  // namespace

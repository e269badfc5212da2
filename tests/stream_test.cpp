// The run that takes its input one partial at a time against the run that holds every
// partial: the same file byte for byte, the same failure where the input or its result is
// faulty (the input's own faults first, then the grid's, then the figures'), the same warning,
// on every grid, in the list and SDIF, read in the same thread or in one beside.
#include "app/stream.hpp"

#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fit/resample.hpp"
#include "formats/formats.hpp"
#include "formats/partial_file.hpp"
#include "formats/sdif.hpp"
#include "model/failure.hpp"
#include "run_binary.hpp"
#include "support.hpp"

namespace {

struct Outcome {
  std::string file, failure, warning, sound;
};

// How a run lays and saves: its grid and format, and the options that ask for them.
struct Way {
  zarn::GridKind grid;
  zarn::Format format;
  std::vector<std::string> options;
};
const Way kWays[] = {{zarn::GridKind::kOwn, zarn::Format::kList, {}},
                     {zarn::GridKind::kAligned, zarn::Format::kList, {"--align"}},
                     {zarn::GridKind::kWhole, zarn::Format::kList, {"--whole"}},
                     {zarn::GridKind::kAligned, zarn::Format::kSdif, {"-f", "sdif"}},
                     {zarn::GridKind::kOwn, zarn::Format::kList, {"-j", "2"}},  // read in a thread beside
                     {zarn::GridKind::kAligned, zarn::Format::kSdif, {"-f", "sdif", "-j", "2"}},
                     // The sound beside, its partials set aside as they come ("@" is the run's folder).
                     {zarn::GridKind::kOwn, zarn::Format::kList, {"--wav=@/out.wav"}},
                     {zarn::GridKind::kAligned, zarn::Format::kSdif, {"-f", "sdif", "--wav=@/out.wav", "--rate=8000", "--normalize"}},
                     // Edits of one partial at a time, applied to each as it comes: a transposition
                     // past what a list is read back with (said), a gain, a time scale.
                     {zarn::GridKind::kOwn, zarn::Format::kList, {"--transpose=9000", "--gain=-3"}},
                     {zarn::GridKind::kAligned, zarn::Format::kSdif, {"-f", "sdif", "--time-scale=1.7", "--wav=@/out.wav"}},
                     // Changes over time, each partial remade on the run's grid as it comes.
                     {zarn::GridKind::kOwn, zarn::Format::kList, {"--transpose=0:-100,1.2:250", "--freeze=0.5:0.3"}},
                     {zarn::GridKind::kAligned, zarn::Format::kSdif, {"-f", "sdif", "--warp=0:0,1:1.5", "--gain=0:0,2:-12"}}};

// A run of the input as the file dir/in by one of the plan's executors: the streaming one
// (where the options let it) or the one that holds every partial.
Outcome run(bool streaming, const zarn_test::TempDir& dir, const std::string& input, const std::string& step, const Way& way) {
  zarn_test::spill(dir / "in", input);
  std::vector<std::string> args = {"-q", "-o", dir / "out"};
  for (std::string option : way.options) {
    if (option.find('@') != std::string::npos) option.replace(option.find('@'), 1, dir / "");
    args.push_back(option);
  }
  args.insert(args.end(), {dir / "in", step});
  const zarn::Options options = zarn_test::parse(args);
  EXPECT_TRUE(zarn::streams(options));
  Outcome o;
  std::string sink;
  testing::internal::CaptureStderr();  // where warnings go
  try {
    zarn::Output out(&sink);
    bool saved = false;
    if (streaming) {
      zarn::run_streaming(options, out, "nothing saved", "zarn test");
    } else {
      zarn::run_whole(options, out, saved, "zarn test");
    }
    o.file = zarn_test::slurp(dir / "out");
    const std::string console = testing::internal::GetCapturedStderr();
    const std::size_t at = console.find("partial ");
    if (at != std::string::npos) o.warning = console.substr(at, console.find(' ', at + 8) - at);
    if (console.find("out.wav") != std::string::npos) o.warning += console.substr(console.find("out.wav"));
    if (::access((dir / "out.wav").c_str(), F_OK) == 0) o.sound = zarn_test::slurp(dir / "out.wav");
  } catch (const zarn::Failure& f) {
    testing::internal::GetCapturedStderr();
    o.failure = f.message;
    EXPECT_EQ(dir.list(), std::vector<std::string>{"in"});  // nothing saved, nothing left
  }
  ::unlink((dir / "out").c_str());
  ::unlink((dir / "out.wav").c_str());
  return o;
}

std::string list(const std::vector<std::string>& partials) {
  std::string text = "( PARTIALS " + std::to_string(partials.size()) + "\n";
  for (const std::string& p : partials) text += p;
  return text + ")\n";
}

TEST(Stream, SameFileFailureAndWarningAsTheWholeRun) {
  const std::string ok = "( POINTS 3\n0 440 -10\n0.5 450 -12\n1.25 445 -20\n)\n";
  const std::string one = "( POINTS 1\n0.3 300 -6\n)\n";
  const std::string none = "( POINTS 0\n)\n";
  const std::string late = "( POINTS 2\n1.004 500 -10\n2.5 510 -10\n)\n";
  const std::string longer = "( POINTS 3\n0.002 300 -3\n1.7 330 -9\n3 290 -6\n)\n";
  const std::string far = "( POINTS 2\n4e38 440 -10\n4.00000000000001e38 440 -10\n)\n";  // times beyond single precision
  const std::string long_one = "( POINTS 2\n0 440 -10\n1e33 440 -10\n)\n";                 // too many points at 1e22
  const std::string broken = "( POINTS 2\n0 440 -10\nx 440 -10\n)\n";
  const struct {
    std::string input, step;
  } cases[] = {
      {list({ok, one, none, ok}), "0.01"},
      {list({late, ok, longer, ok}), "0.01"},      // frames that merge partials out of their order
      {list({ok, ok}), "0.0004"},                  // times that three decimals write alike
      {list({ok, far, long_one}), "1e22"},         // the grid's failure before the figures'
      {list({ok, far, far}), "1e22"},              // the figures', of the first partial to fail
      {list({long_one, ok, broken}), "1e22"},      // the input's own fault, read on to it
      {list({}), "0.01"},
      {"( PARTIALS 2\n" + ok, "0.01"},              // the list cut short
      // A grid beyond memory, refused before it is laid, by either executor: 2e9 points.
      {list({"( POINTS 2\n0 440 -10\n0.001 440 -10\n)\n", "( POINTS 2\n0 440 -10\n2000 440 -10\n)\n", ok}), "1e-6"},
  };
  for (const Way& way : kWays)
    for (const auto& c : cases) {
      SCOPED_TRACE(c.input + " at " + c.step + " " + (way.options.empty() ? "" : way.options.back()));
      zarn_test::TempDir dir;
      const Outcome a = run(true, dir, c.input, c.step, way), b = run(false, dir, c.input, c.step, way);
      EXPECT_EQ(a.file, b.file);
      EXPECT_EQ(a.sound, b.sound);
      EXPECT_EQ(a.warning, b.warning);
      // What memory is available may change between the runs; what they need may not.
      const auto need = [](const std::string& failure) { return failure.substr(0, failure.find(" more than")); };
      EXPECT_EQ(need(a.failure), need(b.failure));
      if (c.step == "1e-6") {
        // Stretched by half again or more, one partial alone passes what a grid may count.
        const bool stretched = std::any_of(way.options.begin(), way.options.end(), [](const std::string& o) {
          return o.rfind("--time-scale", 0) == 0 || o.rfind("--warp", 0) == 0;
        });
        EXPECT_NE(a.failure.find(stretched ? "more than 2147483647 resampled breakpoints" : "out of memory: the grid needs 44.7 GiB"), std::string::npos) << a.failure;
      }
    }
}

// SDIF of six partials, the first lasting while the others begin and end, as sinusoidal tracks
// of stream 0 or as harmonic tracks of stream 2 (which an SDIF result keeps, so it is written
// from every partial at once).
std::string sdif_of(bool harmonic) {
  zarn::ResampledSet set;
  set.aligned = true;
  set.step = 0.01;
  for (int p = 0; p < 6; ++p) {
    zarn::Resampled part;
    part.first_k = p == 0 ? 0 : 5 + 7 * p;
    for (int k = 0; k < (p == 0 ? 80 : 9 - p); ++k) {
      part.time.push_back(static_cast<double>(part.first_k + k) * 0.01);
      part.freq.push_back(110.0 * (p + 1) + k);
      part.amp.push_back(0.05 * (p + 1));
    }
    part.origin = {harmonic ? 2 : 0, harmonic, p + 1};
    set.partials.push_back(part);
  }
  std::string bytes;
  zarn::Output out(&bytes);
  zarn::write_sdif(out, set, "test");
  out.flush();
  return bytes;
}

// Other formats: SDIF handed on a partial at a time as each ends, ATS read whole and then
// taken a partial at a time: the same file.
TEST(Stream, OtherFormatsGiveTheSameFile) {
  const std::pair<const char*, std::string> inputs[] = {{"hetro-saw220.sdif", zarn_test::data("hetro-saw220.sdif")},
                                                        {"atsa-type4.ats", zarn_test::data("atsa-type4.ats")},
                                                        {"sinusoidal tracks", sdif_of(false)},
                                                        {"harmonic tracks", sdif_of(true)}};
  for (const Way& way : kWays)
    for (const auto& [name, bytes] : inputs) {
      ASSERT_FALSE(bytes.empty()) << name;
      zarn_test::TempDir dir;
      for (const char* step : {"0.01", "0.003"}) {
        const Outcome a = run(true, dir, bytes, step, way), b = run(false, dir, bytes, step, way);
        EXPECT_EQ(a.file, b.file) << name << " at " << step;
        EXPECT_EQ(a.sound, b.sound) << name << " at " << step;
      }
    }
}

// A result that cannot be written (a full disk) ends the run at once: the input is not read on
// to its end, where a fault would otherwise be the one reported.
TEST(Stream, StopsAtTheFirstFailedWrite) {
  std::string many;
  for (int p = 0; p < 200; ++p) many += "( POINTS 2\n0 440 -10\n1 440 -10\n)\n";
  const std::string input = "( PARTIALS 201\n" + many + "( POINTS 2\n0 440 -10\nx 440 -10\n)\n)\n";
  for (const char* jobs : {"1", "2"}) {
    zarn_test::TempDir dir;
    zarn_test::spill(dir / "in", input);
    const zarn::Options options = zarn_test::parse({"-q", "-j", jobs, "-o", "/dev/full", dir / "in", "0.001"});
    ASSERT_TRUE(zarn::streams(options));
    std::string sink;
    zarn::Output out(&sink);
    try {
      zarn::run_streaming(options, out, "nothing saved", "zarn test");
      ADD_FAILURE() << "saved on a full disk";
    } catch (const zarn::Failure& f) {
      EXPECT_NE(f.message.find("No space left on device"), std::string::npos) << f.message;
    }
  }
}

// A result on standard output is written as it comes: memory stays flat from a listing of
// 20 MB to one of 80 MB, and the bytes are those of a file. (A child's peak counts the pages it
// shares with this process before it starts zarn: both runs come before anything large is read.)
TEST(Stream, StandardOutputInFlatMemory) {
  zarn_test::TempDir dir;
  long rss[2] = {0, 0};
  for (int times : {1, 4}) {
    const std::string name = "in" + std::to_string(times) + ".txt";
    std::string input = "( PARTIALS " + std::to_string(40 * times) + "\n";
    for (int p = 0; p < 40 * times; ++p) input += "( POINTS 2\n0 " + std::to_string(200 + p) + " -10\n20 440 -12\n)\n";
    zarn_test::spill(dir / name, input + ")\n");
    zarn_test::RunOptions piped;
    piped.stdout_path = dir / ("out" + name);
    zarn_test::spill(piped.stdout_path, "");
    const auto run = zarn_test::run_zarn({"-o", "-", name, "0.001"}, dir.path(), piped);
    ASSERT_EQ(run.status, 0) << run.err;
    rss[times == 4] = run.max_rss_kb;
    ASSERT_EQ(zarn_test::run_zarn({"-q", "-o", "file" + name, name, "0.001"}, dir.path()).status, 0);
  }
  EXPECT_LT(static_cast<double>(rss[1]), 1.5 * static_cast<double>(rss[0])) << rss[0] << " KB, then " << rss[1] << " KB";
  for (int times : {1, 4}) {
    const std::string name = "in" + std::to_string(times) + ".txt", streamed = zarn_test::slurp(dir / ("out" + name));
    EXPECT_GT(static_cast<double>(streamed.size()), 20e6 * times);
    EXPECT_TRUE(streamed == zarn_test::slurp(dir / ("file" + name)));
  }
}

TEST(Stream, OnlyWhenNothingNeedsEveryPartial) {
  const struct {
    std::vector<std::string> args;
    bool streams;
  } cases[] = {
      {{"-q", "-o", "o.txt", "in.txt", "0.01"}, true},
      {{"-q", "--fit=linear", "-o", "o.txt", "in.txt"}, true},
      {{"-o", "o.txt", "in.txt", "0.01"}, false},  // the lengths and the listing
      {{"-q", "-o", "-", "in.txt"}, true},         // written as it comes, as a pipe expects
      {{"-o", "-", "-f", "sdif", "in.txt"}, true},
      {{"-o", "-", "-f", "ats", "in.txt"}, false},
      {{"-q", "-o", "o.sdif", "--align", "in.txt"}, true},
      {{"-q", "-o", "o.txt", "--whole", "in.txt"}, true},
      {{"-q", "-o", "o.ats", "in.txt"}, false},
      {{"-q", "-f", "spear-frames", "-o", "o.txt", "in.txt"}, false},
      {{"-q", "--wav=o.wav", "-o", "o.txt", "in.txt"}, true},  // its partials set aside on disk
      {{"-q", "--wav=o.wav", "--plot=o.svg", "-o", "o.txt", "in.txt"}, false},
      {{"-q", "--plot=o.svg", "-o", "o.txt", "in.txt"}, false},
      {{"-q", "--f0=o.f0.txt", "-o", "o.txt", "in.txt"}, false},
      {{"-q", "--band=100:2000", "-o", "o.txt", "in.txt"}, false},
      {{"-q", "--gain=-6", "--transpose=30", "--time-scale=2", "-o", "o.txt", "in.txt"}, true},  // each partial on its own
      {{"-q", "--noise-gain=3", "-o", "o.sdif", "in.txt"}, true},
      {{"-q", "--transpose=30", "--keep-formants", "-o", "o.txt", "in.txt"}, false},  // the envelope of all at once
      {{"-q", "--transpose=0:0,1:30", "--freeze=0.5:1", "-o", "o.txt", "in.txt"}, true},  // remade on the run's grid, alone
      {{"-q", "--time-scale=2", "--keep-attacks", "-o", "o.txt", "in.txt"}, false},       // the set's onsets
      {{"-q", "--gain=-6", "--max-partials=3", "-o", "o.txt", "in.txt"}, false},
      {{"in.txt", "0.01"}, false},
  };
  for (const auto& c : cases) EXPECT_EQ(zarn::streams(zarn_test::parse(c.args)), c.streams) << c.args[1];
}

}  // namespace

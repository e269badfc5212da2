// The parts of a run, one at a time: parsing, the spline, formatting the listing and the
// file, and reading and writing each file format.
#include <benchmark/benchmark.h>

#include <cmath>
#include <string>
#include <vector>
#include <utility>

#include "generated_analysis.hpp"
#include "formats/formats.hpp"
#include "render/listing.hpp"
#include "render/plot.hpp"
#include "fit/resample.hpp"
#include "render/lanes.hpp"
#include "render/sound.hpp"
#include "io/output.hpp"

namespace {

const std::string& analysis() {
  static const std::string text = zarn_bench::make_analysis(500, 1);
  return text;
}

zarn::PartialSet parsed() { return zarn::read_input(analysis(), "bench"); }

// The analysis resampled on its own grids at 0.01.
zarn::ResampledSet resampled(const zarn::PartialSet& set) {
  zarn::ResampledSet grid = zarn::lay_planned(set, zarn::plan_grid(set, 0.01, zarn::GridKind::kOwn, "bench"));
  zarn::resample(set, grid);
  return grid;
}

void BM_Parse(benchmark::State& state) {
  analysis();  // generated once, outside the timing
  for (auto _ : state) benchmark::DoNotOptimize(parsed());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * analysis().size()));
}
BENCHMARK(BM_Parse)->Unit(benchmark::kMillisecond);

void BM_Spline(benchmark::State& state) {
  const zarn::PartialSet set = parsed();
  zarn::ResampledSet grid = zarn::lay_planned(set, zarn::plan_grid(set, 0.01, zarn::GridKind::kOwn, "bench"));
  std::int64_t points = 0;
  for (auto _ : state) {
    zarn::resample(set, grid);
    for (const zarn::Resampled& part : grid.partials) points += part.N();
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(points);
}
BENCHMARK(BM_Spline)->Unit(benchmark::kMillisecond);

// The listing's "%lf --> %lf\t%lf\n" and the file's "%9.3f" figures, into memory.
void BM_Format(benchmark::State& state) {
  const zarn::ResampledSet set = resampled(parsed());
  const zarn::Writer save = zarn::result_writer(set);
  std::string sink;
  std::int64_t bytes = 0;
  for (auto _ : state) {
    sink.clear();
    zarn::Output out(&sink);
    zarn::write_listing(out, set);
    save(out);
    out.flush();
    bytes += static_cast<std::int64_t>(sink.size());
  }
  state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_Format)->Unit(benchmark::kMillisecond);

// The analysis on the aligned grid at about its own spacing, in the list format and as SDIF:
// the same partial data in each.
struct Framed {
  zarn::ResampledSet set;
  std::string list, sdif;
  std::int64_t points = 0;
};

const Framed& framed() {
  static const Framed f = [] {
    Framed r;
    r.list = zarn_bench::framed(analysis(), "list");
    r.sdif = zarn_bench::framed(analysis(), "sdif");
    zarn::PartialSet read = zarn::read_input(r.sdif, "bench");
    for (const zarn::Partial& part : read.partials) {
      r.set.partials.emplace_back();
      r.set.partials.back().time = part.time;
      r.set.partials.back().freq = part.freq;
      r.set.partials.back().amp = part.amp;
      r.points += part.M();
    }
    r.set.aligned = true;
    return r;
  }();
  return f;
}

// Reading each format, in breakpoints a second.
void BM_Read(benchmark::State& state, bool sdif) {
  const Framed& f = framed();
  for (auto _ : state) benchmark::DoNotOptimize(zarn::read_input(sdif ? f.sdif : f.list, "bench"));
  state.SetItemsProcessed(state.iterations() * f.points);
}
BENCHMARK_CAPTURE(BM_Read, list, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Read, sdif, true)->Unit(benchmark::kMillisecond);

// The benchmark analysis of the runs (5,000 partials, 1.6 million breakpoints) framed alike.
struct FramedText {
  std::string list, sdif;
  std::int64_t points = 0;
};
const FramedText& framed_full() {
  static const FramedText f = [] {
    FramedText r;
    const std::string text = zarn_bench::make_analysis(5000, 1);
    r.list = zarn_bench::framed(text, "list");
    r.sdif = zarn_bench::framed(text, "sdif");
    for (const zarn::Partial& part : zarn::read_input(r.sdif, "bench").partials) r.points += part.M();
    return r;
  }();
  return f;
}

// Reading each format a partial at a time, as a run that streams does, into a sink that only
// looks at each partial, in breakpoints a second: the 500 partials above (frames of a row or
// two), and the 5,000 of the runs (frames of some fifteen rows).
void BM_ReadEach(benchmark::State& state, bool sdif) {
  struct Sink final : zarn::PartialSink {
    void start(const zarn::PartialSet&, int) override {}
    void take(zarn::Partial& part, int) override { last = part.time.empty() ? 0 : part.time.back(); }
    double last = 0;
  } sink;
  const bool full = state.range(0) != 0;
  const std::string& bytes = full ? (sdif ? framed_full().sdif : framed_full().list) : (sdif ? framed().sdif : framed().list);
  const std::int64_t points = full ? framed_full().points : framed().points;
  for (auto _ : state) {
    zarn::Input in(bytes, "bench");
    zarn::PartialSet input;
    input.format = sdif ? "sdif" : "list";
    zarn::row_of(sdif ? zarn::Format::kSdif : zarn::Format::kList).read_each(in, input, sink);
    benchmark::DoNotOptimize(sink.last);
  }
  state.SetItemsProcessed(state.iterations() * points);
}
BENCHMARK_CAPTURE(BM_ReadEach, list, false)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ReadEach, sdif, true)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Writing each format, in breakpoints a second.
void BM_Write(benchmark::State& state, zarn::Format format) {
  const Framed& f = framed();
  const zarn::Writer write = zarn::result_writer(f.set, format);
  std::string sink;
  for (auto _ : state) {
    sink.clear();
    zarn::Output out(&sink);
    write(out);
    out.flush();
  }
  state.SetItemsProcessed(state.iterations() * f.points);
}
BENCHMARK_CAPTURE(BM_Write, list, zarn::Format::kList)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Write, sdif, zarn::Format::kSdif)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Write, spear_frames, zarn::Format::kSpearFrames)->Unit(benchmark::kMillisecond);

// Resynthesis, in oscillator samples a second: each partial's span times the rate.
void BM_Render(benchmark::State& state) {
  const zarn::ResampledSet set = resampled(parsed());
  constexpr int kRate = 44100;
  double samples = 0;
  for (const zarn::Resampled& part : set.partials)
    if (part.N() > 1) samples += (part.time.back() - part.time.front()) * kRate;
  for (auto _ : state) benchmark::DoNotOptimize(zarn::render(set, kRate));
  state.SetItemsProcessed(static_cast<std::int64_t>(static_cast<double>(state.iterations()) * samples));
}
BENCHMARK(BM_Render)->Unit(benchmark::kMillisecond);

// The same made a block at a time, as --wav makes it, in oscillator samples a second: beside
// BM_LanesFloor, what starting segments, fades and voices cost above the lanes themselves.
void BM_SoundStream(benchmark::State& state) {
  // 500 partials (some five sounding at once), or the runs' 5,000 (some fifty).
  const zarn::ResampledSet set =
      resampled(state.range(0) == 0 ? parsed() : zarn::read_input(zarn_bench::make_analysis(5000, 1), "bench"));
  constexpr int kRate = 44100;
  double samples = 0;
  for (const zarn::Resampled& part : set.partials)
    if (part.N() > 1) samples += (part.time.back() - part.time.front()) * kRate;
  std::vector<float> block(1 << 14);
  for (auto _ : state) {
    zarn::SoundStream stream(set, kRate);
    while (stream.next(block.data(), block.size()) > 0) {
    }
    benchmark::DoNotOptimize(stream.peak());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(static_cast<double>(state.iterations()) * samples));
}
BENCHMARK(BM_SoundStream)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The floor of the oscillators: eight lanes run side by side with nothing else, no segment
// or fade to start, no voice to load, in oscillator samples a second (a lane's sample each).
void BM_LanesFloor(benchmark::State& state) {
  zarn::detail::Lanes lanes;
  for (int l = 0; l < zarn::detail::kLanes; ++l) {
    lanes.quiet(l);
    lanes.zr[l] = std::cos(0.1 * l), lanes.zi[l] = std::sin(0.1 * l);
    lanes.wr[l] = std::cos(0.01 * (l + 1)), lanes.wi[l] = std::sin(0.01 * (l + 1));
    lanes.a[l] = 0.1;
  }
  constexpr long kSamples = 1 << 14;
  std::vector<double> rows(static_cast<std::size_t>(kSamples * zarn::detail::kLanes)), sum(kSamples);
  for (auto _ : state) {
    for (long from = 0; from < kSamples; from += 256) zarn::detail::run_lanes(lanes, 1.0 / 44100, from, from + 256, rows.data() + from * zarn::detail::kLanes);
    zarn::detail::add_rows(sum.data(), rows.data(), kSamples, zarn::detail::kLanes);
    benchmark::DoNotOptimize(sum.data());
  }
  state.SetItemsProcessed(state.iterations() * kSamples * zarn::detail::kLanes);
}
BENCHMARK(BM_LanesFloor);

// The picture of the whole analysis, in bytes of SVG a second.
void BM_Plot(benchmark::State& state) {
  const zarn::PartialSet read = parsed();
  const zarn::ResampledSet set = resampled(read);
  std::string sink;
  for (auto _ : state) {
    sink.clear();
    zarn::Output out(&sink);
    zarn::write_plot(out, set, &read, {"bench", 0.01, false});
    out.flush();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * sink.size()));
}
BENCHMARK(BM_Plot)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

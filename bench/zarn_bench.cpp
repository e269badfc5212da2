// The parts of a run, one at a time: parsing, the spline, formatting the listing and the file.
#include <benchmark/benchmark.h>

#include <string>

#include "analysis.hpp"
#include "formats.hpp"
#include "listing.hpp"
#include "resample.hpp"
#include "text_io.hpp"

namespace {

const std::string& analysis() {
  static const std::string text = zarn_bench::make_analysis(500, 1);
  return text;
}

zarn::PartialSet parsed() { return zarn::read_input(analysis(), "bench"); }

void BM_Parse(benchmark::State& state) {
  analysis();  // generated once, outside the timing
  for (auto _ : state) benchmark::DoNotOptimize(parsed());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * analysis().size()));
}
BENCHMARK(BM_Parse)->Unit(benchmark::kMillisecond);

void BM_Spline(benchmark::State& state) {
  zarn::PartialSet set = parsed();
  zarn::lay_grid(set, 0.01, "bench");
  std::int64_t points = 0;
  for (auto _ : state) {
    zarn::resample(set);
    for (const zarn::Partial& part : set.partials) points += part.N();
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(points);
}
BENCHMARK(BM_Spline)->Unit(benchmark::kMillisecond);

// The listing's "%lf --> %lf\t%lf\n" and the file's "%9.3f" figures, into memory.
void BM_Format(benchmark::State& state) {
  zarn::PartialSet set = parsed();
  zarn::lay_grid(set, 0.01, "bench");
  zarn::resample(set);
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

}  // namespace

BENCHMARK_MAIN();

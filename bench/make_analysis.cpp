// Writes a deterministic, real-looking partial list file to standard output.
//
// usage: make_analysis PARTIALS [SEED [list|sdif|raw [SPAN]]] > analysis.txt
// With list or sdif, the same partials on the aligned grid at about their own spacing, in that
// format. The partials start within SPAN seconds (600): 5,000 partials make about 1.6 million
// breakpoints and 50 MB, and within 20 s a dense picture.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "generated_analysis.hpp"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: make_analysis PARTIALS [SEED [list|sdif|raw [SPAN]]] > analysis.txt\n");
    return 1;
  }
  const double span = argc > 4 ? std::atof(argv[4]) : 600.0;
  std::string text = zarn_bench::make_analysis(std::atol(argv[1]), argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1, span);
  if (argc > 3 && std::string(argv[3]) != "raw") text = zarn_bench::framed(text, argv[3]);
  const bool ok = std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0;
  return ok ? 0 : 1;
}

// Writes a deterministic, real-looking partial list file to standard output.
//
// usage: make_analysis PARTIALS [SEED [list|sdif]] > analysis.txt
// With a format, the same partials on the aligned grid at about their own spacing, in that format.
// 5,000 partials make about 1.6 million breakpoints and 50 MB.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "generated_analysis.hpp"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: make_analysis PARTIALS [SEED [list|sdif]] > analysis.txt\n");
    return 1;
  }
  std::string text = zarn_bench::make_analysis(std::atol(argv[1]), argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1);
  if (argc > 3) text = zarn_bench::framed(text, argv[3]);
  const bool ok = std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0;
  return ok ? 0 : 1;
}

// Writes a deterministic, real-looking partial list file to standard output.
//
// usage: make_analysis PARTIALS [SEED] > analysis.txt
// 5,000 partials make about 1.6 million breakpoints and 50 MB.
#include <cstdio>
#include <cstdlib>

#include "generated_analysis.hpp"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: make_analysis PARTIALS [SEED] > analysis.txt\n");
    return 1;
  }
  const std::string text = zarn_bench::make_analysis(std::atol(argv[1]), argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1);
  const bool ok = std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0;
  return ok ? 0 : 1;
}

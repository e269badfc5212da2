// The I/O floor of a run: everything that zarn's default run reads and writes, done with
// the standard library's own conversions (std::from_chars, std::to_chars) and no spline.
// It reads a partial list file, parses every number, lays each partial's uniform grid, and
// writes a listing of the same shape to standard output and a result file of the same shape
// (each partial's first breakpoint repeated along its grid). What zarn costs beyond this is
// the cost of its own work.
//
// usage: floor ANALYSIS STEP RESULT > /dev/null
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

std::string read_file(const char* path) {
  std::string text;
  FILE* f = std::fopen(path, "rb");
  if (f == nullptr) return text;
  char chunk[1 << 16];
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) text.append(chunk, n);
  std::fclose(f);
  return text;
}

bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Whitespace-separated tokens of a text held in memory.
struct Tokens {
  const char* at;
  const char* end;

  std::string_view next() {
    while (at < end && is_space(*at)) ++at;
    const char* start = at;
    while (at < end && !is_space(*at)) ++at;
    return {start, static_cast<std::size_t>(at - start)};
  }
  double number() {
    const std::string_view t = next();
    double v = 0;
    std::from_chars(t.data(), t.data() + t.size(), v);
    return v;
  }
  long count() {
    const std::string_view t = next();
    long v = 0;
    std::from_chars(t.data(), t.data() + t.size(), v);
    return v;
  }
};

// Appends v with the given decimals, right-aligned in `width` characters.
void append_fixed(std::string& out, double v, int decimals, int width) {
  char digits[400];
  const char* end = std::to_chars(digits, digits + sizeof digits, v, std::chars_format::fixed, decimals).ptr;
  const int len = static_cast<int>(end - digits);
  if (len < width) out.append(static_cast<std::size_t>(width - len), ' ');
  out.append(digits, static_cast<std::size_t>(len));
}

struct Track {
  std::vector<double> time, freq, amp;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: floor ANALYSIS STEP RESULT > /dev/null\n");
    return 1;
  }
  const std::string text = read_file(argv[1]);
  const double step = std::atof(argv[2]);
  Tokens tokens{text.data(), text.data() + text.size()};
  tokens.next();
  tokens.next();
  std::vector<Track> tracks(static_cast<std::size_t>(tokens.count()));
  for (Track& track : tracks) {
    tokens.next();
    tokens.next();
    const long M = tokens.count();
    for (long i = 0; i < M; ++i) {
      track.time.push_back(tokens.number());
      const double f = tokens.number();
      track.freq.push_back(f < 4 ? 4 : (f > 22050 ? 22050 : f));
      track.amp.push_back(std::pow(10.0, tokens.number() / 20.0));
    }
    tokens.next();
  }

  std::vector<int> counts;
  std::string listing, file = "( PARTIALS\t" + std::to_string(tracks.size()) + "\n";
  for (const Track& track : tracks) {
    counts.push_back(track.time.size() < 2 ? 0 : static_cast<int>((track.time.back() - track.time[0]) / step));
    listing += "Len2: " + std::to_string(counts.back()) + " points\n";
  }
  listing += "\n";
  for (std::size_t p = 0; p < tracks.size(); ++p) {
    const Track& track = tracks[p];
    file += "( POINTS\t" + std::to_string(counts[p]) + "\n";
    for (int k = 0; k < counts[p]; ++k) {
      const double t = track.time[0] + k * step;
      append_fixed(listing, t, 6, 0);
      listing += " --> ";
      append_fixed(listing, track.freq[0], 6, 0);
      listing += '\t';
      append_fixed(listing, track.amp[0], 6, 0);
      listing += '\n';
      append_fixed(file, static_cast<float>(t), 3, 9);
      file += '\t';
      append_fixed(file, static_cast<float>(track.freq[0]), 3, 9);
      file += '\t';
      append_fixed(file, static_cast<float>(track.amp[0] > 0 ? 20 * std::log10(track.amp[0]) : -140), 3, 9);
      file += '\n';
    }
    listing += "\n";
    file += ")\n";
    if (listing.size() > (1u << 20)) {
      std::fwrite(listing.data(), 1, listing.size(), stdout);
      listing.clear();
    }
  }
  file += ")\n";
  std::fwrite(listing.data(), 1, listing.size(), stdout);
  FILE* out = std::fopen(argv[3], "wb");
  if (out == nullptr) return 1;
  const bool ok = std::fwrite(file.data(), 1, file.size(), out) == file.size();
  return std::fclose(out) == 0 && ok ? 0 : 1;
}

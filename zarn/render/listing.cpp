#include "render/listing.hpp"

namespace zarn {

void write_banner(Output& out) { out.put("============= KV ==============\n"); }

void write_lengths(Output& out, const std::vector<int>& points) {
  for (const int n : points) {
    out.put("Len2: ");
    out.put_int(n);
    out.put(" points\n");
  }
  out.put('\n');
}

void write_listing(Output& out, const ResampledSet& set) {
  for (const Resampled& part : set.partials) {
    for (std::size_t k = 0; k < part.time.size(); ++k) {  // "%lf --> %lf\t%lf\n"
      out.put_fixed(part.time[k], 6);
      out.put(" --> ");
      out.put_fixed(part.freq[k], 6);
      out.put('\t');
      out.put_fixed(part.amp[k], 6);
      out.put('\n');
    }
    out.put('\n');
  }
}

}  // namespace zarn

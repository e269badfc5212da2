#include "listing.hpp"

namespace zarn {

void write_banner(Output& out) { out.put("============= KV ==============\n"); }

void write_lengths(Output& out, const PartialSet& set) {
  for (const Partial& part : set.partials) {
    out.put("Len2: ");
    out.put_int(part.N());
    out.put(" points\n");
  }
  out.put('\n');
}

void write_listing(Output& out, const PartialSet& set) {
  for (const Partial& part : set.partials) {
    for (std::size_t k = 0; k < part.rtime.size(); ++k) {  // "%lf --> %lf\t%lf\n"
      out.put_fixed(part.rtime[k], 6);
      out.put(" --> ");
      out.put_fixed(part.rfreq[k], 6);
      out.put('\t');
      out.put_fixed(part.ramp[k], 6);
      out.put('\n');
    }
    out.put('\n');
  }
}

}  // namespace zarn

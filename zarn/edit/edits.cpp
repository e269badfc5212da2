#include "edit/edits.hpp"

namespace zarn {

void apply_edits(PartialSet& set, const std::vector<Edit>& edits) {
  for (const Edit& edit : edits) edit(set);
}

}  // namespace zarn

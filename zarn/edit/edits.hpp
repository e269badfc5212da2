// Edits of the partials as read, between reading and laying the grid: each edit is a module
// of its own, a function from one set of partials to the next, and the run applies those
// that the options choose, in order.
#pragma once

#include <functional>
#include <vector>

#include "model/partials.hpp"

namespace zarn {

/// One change of the partials as read.
using Edit = std::function<void(PartialSet&)>;

/// Applies `edits` to the set, in order.
void apply_edits(PartialSet& set, const std::vector<Edit>& edits);

}  // namespace zarn

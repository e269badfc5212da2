// The save dialogue of the classic run: the name of the output file asked for on the
// console and read from standard input, as often as it names a file that exists.
#pragma once

#include <functional>
#include <string>

#include "io/output.hpp"
#include "io/save.hpp"
#include "io/tokens.hpp"

namespace zarn {

/// Asks on `console` for a name, read as words from `answers`, until one is new, then saves
/// under it. Its own lines go to the console as they always have; a name that cannot be
/// created or written also gets "zarn: NAME: reason" through `warn`. True when saved whole,
/// under the name then put in `saved_as` where given.
bool save_dialogue(Output& console, Input& answers, const Writer& write,
                   const std::function<void(const std::string&)>& warn, std::string* saved_as = nullptr);

}  // namespace zarn

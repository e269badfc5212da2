// Pictures as PNG: the SVG picture drawn through librsvg and cairo where the build has them.
#pragma once

#include <string>
#include <string_view>

#include "io/save.hpp"

namespace zarn {

/// True when this build writes PNG pictures (it was built with librsvg and cairo).
bool have_png();

/// True for a name that ends in ".png", in any case.
bool is_png_name(std::string_view name);

/// The writer of the SVG picture `svg` drawn as a PNG image of its own size.
FdWriter png_writer(const std::string& svg);

}  // namespace zarn

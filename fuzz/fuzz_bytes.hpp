// What the fuzz targets share: their bytes taken one at a time, and one figure at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace zarn_fuzz {

/// Bytes taken one at a time; a figure is a byte that picks a value from `values` (of `count`),
/// or, from 240 up, the eight bytes after it as any double.
struct Bytes {
  const std::uint8_t* p;
  std::size_t left;
  const double* values;
  std::size_t count;

  bool take(std::uint8_t& b) {
    if (left == 0) return false;
    b = *p++;
    --left;
    return true;
  }
  bool figure(double& v) {
    std::uint8_t b;
    if (!take(b)) return false;
    if (b < 240) {
      v = values[b % count];
      return true;
    }
    if (left < 8) return false;
    std::memcpy(&v, p, 8);
    p += 8;
    left -= 8;
    return true;
  }
};

}  // namespace zarn_fuzz

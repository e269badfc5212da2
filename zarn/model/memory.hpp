// How much memory a run can still take, and the one check made before a large allocation:
// work that would not fit is refused before any of it is done, since the system would
// otherwise kill the process part-way.
#pragma once

#include <string>

namespace zarn {

/// Bytes this process can still take: the memory the system has available and, under an
/// address-space limit, what is left of that limit; infinity where neither can be read.
double available_memory();

/// Throws Failure "out of memory: WHAT needs N GiB, more than ..." when `bytes` would not fit in
/// what is available, with a margin for everything else the run holds.
void check_memory(double bytes, const std::string& what);

/// check_memory for many pieces of work in a row (each partial's grid): what may be taken is
/// measured once, and only a piece beyond it is checked again, so that a small one costs no
/// reading of the system's figures.
class MemoryCheck {
 public:
  MemoryCheck();
  /// Throws check_memory's Failure when `bytes` would not fit.
  void check(double bytes, const std::string& what) const {
    if (!(bytes <= may_)) check_memory(bytes, what);
  }

 private:
  double may_;
};

}  // namespace zarn

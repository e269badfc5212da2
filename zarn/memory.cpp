#include "memory.hpp"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <limits>

#include "failure.hpp"

namespace zarn {

namespace {

// The figure after `key` in /proc/meminfo, in bytes; -1 where it cannot be read.
double meminfo_bytes(const char* key) {
  std::FILE* f = std::fopen("/proc/meminfo", "re");
  if (f == nullptr) return -1;
  char line[256];
  double bytes = -1;
  const std::string prefix(key);
  while (std::fgets(line, sizeof line, f) != nullptr) {
    double kib = 0;
    if (prefix.compare(0, prefix.size(), line, prefix.size()) == 0 && std::sscanf(line + prefix.size(), "%lf", &kib) == 1) {
      bytes = kib * 1024;
      break;
    }
  }
  std::fclose(f);
  return bytes;
}

// The process's address space in use now, in bytes; 0 where it cannot be read.
double address_space_in_use() {
  std::FILE* f = std::fopen("/proc/self/statm", "re");
  if (f == nullptr) return 0;
  double pages = 0;
  if (std::fscanf(f, "%lf", &pages) != 1) pages = 0;
  std::fclose(f);
  return pages * static_cast<double>(::sysconf(_SC_PAGESIZE));
}

// Of what is available, the share that one piece of work may take: the rest is for the
// input, buffers and the system.
constexpr double kShare = 0.8;

}  // namespace

double available_memory() {
  double available = meminfo_bytes("MemAvailable:");
  if (available < 0) {
    const long pages = ::sysconf(_SC_AVPHYS_PAGES), size = ::sysconf(_SC_PAGESIZE);
    available = pages > 0 && size > 0 ? static_cast<double>(pages) * static_cast<double>(size)
                                      : std::numeric_limits<double>::infinity();
  }
  struct rlimit limit;
  if (::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
    available = std::min(available, std::max(0.0, static_cast<double>(limit.rlim_cur) - address_space_in_use()));
  return available;
}

void check_memory(double bytes, const std::string& what) {
  const double available = available_memory();
  constexpr double kAbsurd = 4611686018427387904.0;  // 2^62 bytes: beyond any machine, even one of unknown size
  if (bytes <= available * kShare && bytes < kAbsurd) return;
  char need[32], have[32];
  std::snprintf(need, sizeof need, "%.1f", bytes / (1 << 30));
  std::snprintf(have, sizeof have, "%.1f", available / (1 << 30));
  throw Failure(compose("out of memory: " + what + " needs " + need + " GiB, more than the " + have +
                        " GiB that this machine has available"),
                FailureKind::kOutOfMemory);
}

}  // namespace zarn

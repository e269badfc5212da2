#include "model/memory.hpp"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <limits>

#include "model/failure.hpp"

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
// 2^62 bytes: beyond any machine, even one of unknown size.
constexpr double kAbsurd = 4611686018427387904.0;

// The memory available, and whether the process's limit on address space (ulimit -v) is what
// bounds it rather than the machine.
double available_memory(bool& limited_by_process) {
  limited_by_process = false;
  double available = meminfo_bytes("MemAvailable:");
  if (available < 0) {
    const long pages = ::sysconf(_SC_AVPHYS_PAGES), size = ::sysconf(_SC_PAGESIZE);
    available = pages > 0 && size > 0 ? static_cast<double>(pages) * static_cast<double>(size)
                                      : std::numeric_limits<double>::infinity();
  }
  struct rlimit limit;
  if (::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
    const double left = std::max(0.0, static_cast<double>(limit.rlim_cur) - address_space_in_use());
    limited_by_process = left < available;
    available = std::min(available, left);
  }
  return available;
}

}  // namespace

double available_memory() {
  bool limited_by_process = false;
  return available_memory(limited_by_process);
}

MemoryCheck::MemoryCheck() : may_(std::min(available_memory() * kShare, kAbsurd)) {}

void check_memory(double bytes, const std::string& what) {
  bool limited_by_process = false;
  const double available = available_memory(limited_by_process);
  if (bytes <= available * kShare && bytes < kAbsurd) return;
  throw Failure(compose("out of memory: " + what_needs(what) + " " + shown_bytes(bytes) + ", more than the " + shown_bytes(available * kShare) +
                        " it may take (" + std::to_string(static_cast<int>(kShare * 100)) + " % of the " + shown_bytes(available) + " " +
                        (limited_by_process ? "left to this process by its limit on address space (ulimit -v)"
                                            : "that this machine has available") +
                        ")"),
                FailureKind::kOutOfMemory);
}

}  // namespace zarn

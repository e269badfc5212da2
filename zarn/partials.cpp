#include "partials.hpp"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace zarn {

Failure failure_at(const PartialSet& set, const Partial& part, const std::string& file, const std::string& what) {
  switch (set.places) {
    case PartialSet::Places::kBytes: return Failure(compose_at_byte(file, static_cast<std::uint64_t>(part.place), what));
    case PartialSet::Places::kSeconds: return Failure(compose_at_time(file, part.place, what));
    case PartialSet::Places::kLines: break;
  }
  return failure(file, static_cast<long>(part.place), what);
}

double db2amp(double db) {
  if (db < kFloorDb) db = kFloorDb;
  return std::pow(10.0, db / 20.0);
}

double amp2db(double amp) {
  if (amp > 0.0) return 20.0 * std::log10(amp);
  return kFloorDb;
}

// Zeroed pages from the system, so that only the entries used take memory.
LevelTable::LevelTable() : table_(static_cast<double*>(std::calloc(kEntries, sizeof(double)))) {
  if (!table_) throw std::bad_alloc();
}

void LevelTable::Free::operator()(double* p) const { std::free(p); }

}  // namespace zarn

#include "partials.hpp"

#include <cmath>

namespace zarn {

double db2amp(double db) {
  if (db < kFloorDb) db = kFloorDb;
  return std::pow(10.0, db / 20.0);
}

double amp2db(double amp) {
  if (amp > 0.0) return 20.0 * std::log10(amp);
  return kFloorDb;
}

}  // namespace zarn

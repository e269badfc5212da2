// The one way a run fails: a message for standard error and exit status 1.
#pragma once

#include <string>
#include <utility>

namespace zarn {

/// A failure that ends the run; `message` is written to standard error exactly as it stands.
struct Failure {
  std::string message;
  explicit Failure(std::string text) : message(std::move(text)) {}
};

}  // namespace zarn

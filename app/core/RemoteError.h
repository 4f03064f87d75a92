#pragma once

#include <stdexcept>

#include "platform/error/Error.h"

namespace zephro {

// An error that came from the helper's reply or from the connection to it, thrown to
// the caller as it was received. what() is its localized description.
class RemoteError : public std::runtime_error {
 public:
  explicit RemoteError(Error error)
      : std::runtime_error(error.localizedDescription()), error_(std::move(error)) {}

  [[nodiscard]] const Error& error() const { return error_; }

 private:
  Error error_;
};

}  // namespace zephro

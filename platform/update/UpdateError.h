#pragma once

#include <cstdint>
#include <string>

#include "platform/error/Error.h"

namespace zephro::update {

inline constexpr const char* kUpdateErrorDomain = "ZephroUpdateErrorDomain";

// What went wrong, as the error's code.
enum class UpdateErrorCode : std::int64_t {
  configuration = 1,
  appcast = 1000,
  noUpdate = 1001,
  downgrade = 1002,
  download = 2001,
  signature = 3001,
  extraction = 3002,
  installation = 4005,
};

[[nodiscard]] inline Error updateError(UpdateErrorCode code, std::string description) {
  return Error::withDescription(kUpdateErrorDomain, static_cast<std::int64_t>(code),
                                std::move(description));
}

}  // namespace zephro::update

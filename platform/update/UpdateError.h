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
  // The staged tree is not the release the feed offered (another version, or an older one).
  versionMismatch = 3003,
  installation = 4005,
  // A step threw instead of reporting its failure.
  unexpected = 5000,
};

[[nodiscard]] inline Error updateError(UpdateErrorCode code, std::string description) {
  return Error::withDescription(kUpdateErrorDomain, static_cast<std::int64_t>(code),
                                std::move(description));
}

[[nodiscard]] inline Error installationError(std::string description) {
  return updateError(UpdateErrorCode::installation, std::move(description));
}

}  // namespace zephro::update

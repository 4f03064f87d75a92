#include "app/core/HelperInstallError.h"

namespace zephro {

HelperInstallError::HelperInstallError(Kind kind, std::string message,
                                       const std::string& description)
    : std::runtime_error(description), kind_(kind), message_(std::move(message)) {}

HelperInstallError HelperInstallError::registrationFailed(std::string message) {
  const auto description = "Unable to register the helper: " + message;
  return {Kind::registrationFailed, std::move(message), description};
}

HelperInstallError HelperInstallError::requiresApproval() {
  return {Kind::requiresApproval, {}, "Zephro needs approval in Login Items to run its helper."};
}

HelperInstallError HelperInstallError::unavailable() {
  return {Kind::unavailable, {}, "The helper did not respond."};
}

}  // namespace zephro

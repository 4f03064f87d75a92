#pragma once

#include <cstdint>
#include <string>

#include "platform/error/Error.h"

namespace zephro {

// Errors the service-manager backends answer from register and unregister.
inline constexpr const char* kServiceErrorDomain = "com.zephro.servicemanager";
inline constexpr std::int64_t kServiceErrorIO = 1;
inline constexpr std::int64_t kServiceErrorNotRegistered = 2;
inline constexpr std::int64_t kServiceErrorNotFound = 3;
inline constexpr std::int64_t kServiceErrorAuthenticationDismissed = 4;
inline constexpr std::int64_t kServiceErrorNotAuthorized = 5;
inline constexpr std::int64_t kServiceErrorCommandFailed = 6;
inline constexpr std::int64_t kServiceErrorLaunchFailed = 7;

[[nodiscard]] inline Error serviceError(std::int64_t code, std::string description) {
  return Error::withDescription(kServiceErrorDomain, code, std::move(description));
}

}  // namespace zephro

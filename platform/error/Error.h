#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace zephro {

// The key under which an error's user-visible description is kept.
inline constexpr const char* kLocalizedDescriptionKey = "NSLocalizedDescription";

// An error as both programs pass it around and across the socket: a domain, a
// code and textual user information. Its full description prints the way
// Foundation prints an NSError, because log lines quote that form.
struct Error {
  std::string domain;
  std::int64_t code = 0;
  std::map<std::string, std::string> userInfo;

  // An error whose user information holds only a localized description.
  [[nodiscard]] static Error withDescription(std::string domain, std::int64_t code,
                                             std::string description);

  // The localized description, or Foundation's generic sentence when there is none.
  [[nodiscard]] std::string localizedDescription() const;

  // Error Domain=SMCErrorDomain Code=1 "Could not open connection to AppleSMC."
  // UserInfo={NSLocalizedDescription=Could not open connection to AppleSMC.}
  [[nodiscard]] std::string fullDescription() const;

  friend bool operator==(const Error&, const Error&) = default;
};

}  // namespace zephro

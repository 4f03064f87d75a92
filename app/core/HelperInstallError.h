#pragma once

#include <stdexcept>
#include <string>

namespace zephro {

// What registering or reaching the helper can fail with, with the text the user sees
// (what() is the error description).
class HelperInstallError : public std::runtime_error {
 public:
  enum class Kind {
    registrationFailed,  // carries a message
    requiresApproval,
    unavailable,  // the helper did not answer in time
  };

  [[nodiscard]] static HelperInstallError registrationFailed(std::string message);
  [[nodiscard]] static HelperInstallError requiresApproval();
  [[nodiscard]] static HelperInstallError unavailable();

  [[nodiscard]] Kind kind() const { return kind_; }
  // The payload of registrationFailed; empty for the other kinds.
  [[nodiscard]] const std::string& message() const { return message_; }
  [[nodiscard]] std::string errorDescription() const { return what(); }

 private:
  HelperInstallError(Kind kind, std::string message, const std::string& description);

  Kind kind_;
  std::string message_;
};

}  // namespace zephro

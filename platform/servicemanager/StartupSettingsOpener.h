#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/servicemanager/CommandRunner.h"

namespace zephro {

// Opens the desktop's "startup applications" settings, the place where a user turns
// login items on and off. Which tool that is depends on the desktop.
class StartupSettingsOpener {
 public:
  // currentDesktop: $XDG_CURRENT_DESKTOP (colon-separated names); searchPath: $PATH.
  StartupSettingsOpener(std::shared_ptr<CommandRunner> runner, std::string currentDesktop,
                        std::string searchPath);

  // From the process environment.
  [[nodiscard]] static StartupSettingsOpener fromEnvironment(std::shared_ptr<CommandRunner> runner);

  // The command that would open the settings, if this desktop has a known, installed tool.
  [[nodiscard]] std::optional<std::vector<std::string>> command() const;

  // Starts that command, or logs why it could not.
  void open() const;

 private:
  [[nodiscard]] bool isInstalled(const std::string& program) const;

  std::shared_ptr<CommandRunner> runner_;
  std::string currentDesktop_;
  std::string searchPath_;
};

}  // namespace zephro

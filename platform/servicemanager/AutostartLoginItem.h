#pragma once

#include <filesystem>
#include <mutex>
#include <string>

#include "platform/servicemanager/ServiceManager.h"

namespace zephro {

// The application as a login item: an XDG autostart desktop file
// ($XDG_CONFIG_HOME/autostart/com.zephro.app.desktop). Enabled while the file is present
// and not Hidden=true, which is how desktops record a user's "off" for an entry.
class AutostartLoginItem final : public Service {
 public:
  // desktopFile: where the entry lives; command: the Exec line that starts the application.
  AutostartLoginItem(std::filesystem::path desktopFile, std::string command);

  [[nodiscard]] int status() const override;
  [[nodiscard]] std::optional<Error> registerService() override;
  [[nodiscard]] std::optional<Error> unregisterService() override;

  [[nodiscard]] const std::filesystem::path& desktopFile() const { return desktopFile_; }

  // $XDG_CONFIG_HOME/autostart/com.zephro.app.desktop, with ~/.config when it is unset.
  [[nodiscard]] static std::filesystem::path defaultDesktopFile();

 private:
  const std::filesystem::path desktopFile_;
  const std::string command_;
  mutable std::mutex mutex_;
};

// The Exec value for a program path: quoted the way the desktop entry format wants.
[[nodiscard]] std::string desktopExecQuoted(const std::string& program);

}  // namespace zephro

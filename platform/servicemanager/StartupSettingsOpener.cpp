#include "platform/servicemanager/StartupSettingsOpener.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>

#include "platform/log/Log.h"

namespace zephro {

namespace {

struct DesktopTools {
  const char* desktop;  // as XDG_CURRENT_DESKTOP names it, lower case
  std::vector<std::vector<std::string>> candidates;
};

const std::vector<DesktopTools>& knownTools() {
  static const std::vector<DesktopTools> tools = {
      {"kde", {{"systemsettings", "kcm_autostart"}, {"systemsettings5", "kcm_autostart"}}},
      {"gnome", {{"gnome-session-properties"}, {"gnome-tweaks"}}},
      {"unity", {{"gnome-session-properties"}}},
      {"xfce", {{"xfce4-session-settings"}}},
      {"mate", {{"mate-session-properties"}}},
      {"x-cinnamon", {{"cinnamon-session-properties"}}},
      {"cinnamon", {{"cinnamon-session-properties"}}},
      {"lxqt", {{"lxqt-config-session"}}},
      {"budgie", {{"gnome-session-properties"}}},
  };
  return tools;
}

std::vector<std::string> desktopNames(const std::string& currentDesktop) {
  std::vector<std::string> names;
  std::string name;
  for (const char c : currentDesktop + ":") {
    if (c == ':') {
      if (!name.empty()) names.push_back(name);
      name.clear();
    } else {
      name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
  }
  return names;
}

}  // namespace

StartupSettingsOpener::StartupSettingsOpener(std::shared_ptr<CommandRunner> runner,
                                             std::string currentDesktop, std::string searchPath)
    : runner_(std::move(runner)),
      currentDesktop_(std::move(currentDesktop)),
      searchPath_(std::move(searchPath)) {}

StartupSettingsOpener StartupSettingsOpener::fromEnvironment(
    std::shared_ptr<CommandRunner> runner) {
  const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
  const char* path = std::getenv("PATH");
  return {std::move(runner), desktop != nullptr ? desktop : "",
          path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin"};
}

bool StartupSettingsOpener::isInstalled(const std::string& program) const {
  std::string_view rest = searchPath_;
  while (!rest.empty()) {
    const auto colon = rest.find(':');
    const std::string dir(rest.substr(0, colon));
    if (!dir.empty() && access((std::filesystem::path(dir) / program).c_str(), X_OK) == 0) {
      return true;
    }
    if (colon == std::string_view::npos) break;
    rest.remove_prefix(colon + 1);
  }
  return false;
}

std::optional<std::vector<std::string>> StartupSettingsOpener::command() const {
  for (const auto& name : desktopNames(currentDesktop_)) {
    for (const auto& tools : knownTools()) {
      if (name != tools.desktop) continue;
      for (const auto& candidate : tools.candidates) {
        if (isInstalled(candidate.front())) return candidate;
      }
    }
  }
  return std::nullopt;
}

void StartupSettingsOpener::open() const {
  const auto argv = command();
  if (!argv) {
    log::write(
        "[Zephro] Could not open the startup applications settings: no settings tool is "
        "known for this desktop.");
    return;
  }
  const auto started = runner_->startDetached({*argv, {}, {}});
  if (started.pid < 0) {
    log::write("[Zephro] Could not open the startup applications settings: " + started.error);
  }
}

}  // namespace zephro

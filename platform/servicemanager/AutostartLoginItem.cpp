#include "platform/servicemanager/AutostartLoginItem.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/servicemanager/ServiceErrors.h"

namespace zephro {

namespace {

std::string trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t\r");
  return std::string(text.substr(first, last - first + 1));
}

// Hidden=true inside the [Desktop Entry] group; other groups (actions) do not count.
bool isHidden(std::istream& in) {
  std::string line;
  bool inEntryGroup = false;
  while (std::getline(in, line)) {
    const auto text = trimmed(line);
    if (text.empty() || text.front() == '#') continue;
    if (text.front() == '[') {
      inEntryGroup = text == "[Desktop Entry]";
      continue;
    }
    if (!inEntryGroup) continue;
    const auto equals = text.find('=');
    if (equals == std::string::npos) continue;
    if (trimmed(text.substr(0, equals)) == "Hidden") {
      return trimmed(text.substr(equals + 1)) == "true";
    }
  }
  return false;
}

}  // namespace

AutostartLoginItem::AutostartLoginItem(std::filesystem::path desktopFile, std::string command)
    : desktopFile_(std::move(desktopFile)), command_(std::move(command)) {}

int AutostartLoginItem::status() const {
  const std::lock_guard lock(mutex_);
  std::ifstream in(desktopFile_);
  if (!in) return static_cast<int>(ServiceStatus::notRegistered);
  return static_cast<int>(isHidden(in) ? ServiceStatus::notRegistered : ServiceStatus::enabled);
}

std::optional<Error> AutostartLoginItem::registerService() {
  const std::lock_guard lock(mutex_);
  std::error_code error;
  std::filesystem::create_directories(desktopFile_.parent_path(), error);
  if (error) {
    return serviceError(kServiceErrorIO,
                        desktopFile_.parent_path().string() + ": " + error.message());
  }

  // Written next to the target and renamed over it, so a crash never leaves half a file
  // that a desktop would read as a broken entry.
  auto temporary = desktopFile_;
  temporary += ".new";
  {
    std::ofstream out(temporary, std::ios::trunc);
    out << "[Desktop Entry]\n"
        << "Type=Application\n"
        << "Name=Zephro\n"
        << "Comment=Fan control in the tray\n"
        << "Exec=" << command_ << "\n"
        << "Icon=com.zephro.app\n"
        << "Terminal=false\n"
        << "X-GNOME-Autostart-enabled=true\n";
    out.flush();
    if (!out) return serviceError(kServiceErrorIO, "Could not write " + temporary.string() + ".");
  }
  std::filesystem::rename(temporary, desktopFile_, error);
  if (error) {
    std::filesystem::remove(temporary, error);
    return serviceError(kServiceErrorIO, "Could not write " + desktopFile_.string() + ".");
  }
  return std::nullopt;
}

std::optional<Error> AutostartLoginItem::unregisterService() {
  const std::lock_guard lock(mutex_);
  std::error_code error;
  if (!std::filesystem::exists(desktopFile_, error)) {
    return serviceError(kServiceErrorNotRegistered, "Zephro is not a login item.");
  }
  std::filesystem::remove(desktopFile_, error);
  if (error) return serviceError(kServiceErrorIO, desktopFile_.string() + ": " + error.message());
  return std::nullopt;
}

std::filesystem::path AutostartLoginItem::defaultDesktopFile() {
  std::filesystem::path config;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
    config = xdg;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
    config = std::filesystem::path(home) / ".config";
  } else {
    config = std::filesystem::temp_directory_path();
  }
  return config / "autostart" / "com.zephro.app.desktop";
}

std::string desktopExecQuoted(const std::string& program) {
  // Reserved characters force quoting; inside quotes ", `, $ and \ take a backslash, and
  // the entry's string escaping then doubles every backslash. A literal % is always %%.
  const bool needsQuotes = program.find_first_of(" \t\n\"'\\><~|&;$*?#()`") != std::string::npos;
  std::string argument;
  for (const char c : program) {
    if (needsQuotes && (c == '"' || c == '`' || c == '$' || c == '\\')) argument += '\\';
    argument += c;
  }
  std::string value = needsQuotes ? "\"" : "";
  for (const char c : argument) {
    if (c == '\n') {
      value += "\\n";
      continue;
    }
    if (c == '\\') value += '\\';
    if (c == '%') value += '%';
    value += c;
  }
  if (needsQuotes) value += '"';
  return value;
}

}  // namespace zephro

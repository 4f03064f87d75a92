#include "platform/servicemanager/SystemdServiceManager.h"

#include <algorithm>
#include <array>

#include "platform/servicemanager/ServiceErrors.h"

namespace zephro {

namespace {

constexpr int kPkexecDismissed = 126;
constexpr int kPkexecNotAuthorized = 127;

std::string firstLine(std::string_view text) {
  const auto end = text.find('\n');
  std::string line(text.substr(0, end));
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
  return line;
}

std::string lastLine(std::string_view text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.remove_suffix(1);
  const auto start = text.rfind('\n');
  return std::string(start == std::string_view::npos ? text : text.substr(start + 1));
}

}  // namespace

DaemonUnits DaemonUnits::forPlistName(std::string_view plistName) {
  constexpr std::string_view suffix = ".plist";
  if (plistName.ends_with(suffix)) plistName.remove_suffix(suffix.size());
  const std::string base(plistName);
  return {base + ".socket", base + ".service"};
}

int statusFromIsEnabled(const CommandResult& result) {
  static constexpr std::array enabledStates = {
      "enabled", "enabled-runtime", "static", "indirect", "generated", "alias", "transient"};
  static constexpr std::array unapprovedStates = {"disabled", "masked", "masked-runtime", "linked",
                                                  "linked-runtime"};
  const auto state = firstLine(result.output);
  const auto is = [&state](const char* name) { return state == name; };
  if (std::any_of(enabledStates.begin(), enabledStates.end(), is)) {
    return static_cast<int>(ServiceStatus::enabled);
  }
  if (std::any_of(unapprovedStates.begin(), unapprovedStates.end(), is)) {
    return static_cast<int>(ServiceStatus::requiresApproval);
  }
  return static_cast<int>(ServiceStatus::notRegistered);
}

SystemdDaemonService::SystemdDaemonService(DaemonUnits units, std::filesystem::path unitDir,
                                           std::filesystem::path installScript,
                                           std::shared_ptr<CommandRunner> runner)
    : units_(std::move(units)),
      unitDir_(std::move(unitDir)),
      installScript_(std::move(installScript)),
      runner_(std::move(runner)) {}

bool SystemdDaemonService::unitsShipped() const {
  std::error_code error;
  return !unitDir_.empty() && std::filesystem::is_regular_file(unitDir_ / units_.socket, error) &&
         std::filesystem::is_regular_file(unitDir_ / units_.service, error);
}

int SystemdDaemonService::status() const {
  if (!unitsShipped()) return static_cast<int>(ServiceStatus::notFound);
  const int status = statusFromIsEnabled(runner_->run({"systemctl", "is-enabled", units_.socket}));
  if (authenticationDismissed_ && status == static_cast<int>(ServiceStatus::notRegistered)) {
    return static_cast<int>(ServiceStatus::requiresApproval);
  }
  return status;
}

std::optional<Error> SystemdDaemonService::runPrivileged(
    const std::vector<std::string>& arguments) {
  std::vector<std::string> argv = {"pkexec", installScript_.string()};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  const auto result = runner_->run(argv);
  authenticationDismissed_ = result.exitCode == kPkexecDismissed;
  switch (result.exitCode) {
    case 0:
      return std::nullopt;
    case kPkexecDismissed:
      return serviceError(kServiceErrorAuthenticationDismissed,
                          "The administrator authentication was dismissed.");
    case kPkexecNotAuthorized:
      return serviceError(kServiceErrorNotAuthorized,
                          "Not authorized to manage the helper (" + lastLine(result.output) + ").");
    case -1:
      return serviceError(kServiceErrorCommandFailed, result.output);
    default:
      return serviceError(kServiceErrorCommandFailed,
                          "The helper's units could not be changed (exit status " +
                              std::to_string(result.exitCode) + "): " + lastLine(result.output));
  }
}

std::optional<Error> SystemdDaemonService::registerService() {
  if (!unitsShipped()) {
    return serviceError(kServiceErrorNotFound,
                        "The helper's units are missing from " + unitDir_.string() + ".");
  }
  return runPrivileged({"install"});
}

std::optional<Error> SystemdDaemonService::unregisterService() {
  return runPrivileged({"remove"});
}

SystemdServiceManager::SystemdServiceManager(SystemdLayout layout,
                                             std::shared_ptr<CommandRunner> runner,
                                             std::unique_ptr<AutostartLoginItem> loginItem,
                                             StartupSettingsOpener settingsOpener)
    : layout_(std::move(layout)),
      runner_(std::move(runner)),
      loginItem_(std::move(loginItem)),
      settingsOpener_(std::move(settingsOpener)) {}

std::unique_ptr<Service> SystemdServiceManager::daemonService(const std::string& plistName) {
  return std::make_unique<SystemdDaemonService>(DaemonUnits::forPlistName(plistName),
                                                layout_.unitDir, layout_.installScript, runner_);
}

Service& SystemdServiceManager::mainAppService() {
  return *loginItem_;
}

void SystemdServiceManager::openSystemSettingsLoginItems() {
  settingsOpener_.open();
}

}  // namespace zephro

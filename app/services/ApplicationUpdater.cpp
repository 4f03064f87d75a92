#include "app/services/ApplicationUpdater.h"

#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>
#include <cstdlib>
#include <ostream>
#include <variant>

#include "platform/bundle/Bundle.h"
#include "platform/log/Log.h"
#include "platform/update/Configuration.h"
#include "platform/update/FeedUpdater.h"
#include "platform/update/Installation.h"
#include "platform/update/TreeInstaller.h"

namespace zephro {
namespace {

std::filesystem::path runningExecutable() {
  return QCoreApplication::applicationFilePath().toStdString();
}

std::filesystem::path location(QStandardPaths::StandardLocation where) {
  return QStandardPaths::writableLocation(where).toStdString();
}

void launchDetached(const std::vector<std::string>& argv) {
  QStringList arguments;
  for (std::size_t i = 1; i < argv.size(); ++i) arguments << QString::fromStdString(argv[i]);
  if (!QProcess::startDetached(QString::fromStdString(argv.front()), arguments)) {
    log::write("[Zephro] Could not start the updated application at " + argv.front() + ".");
  }
}

}  // namespace

std::unique_ptr<update::Updater> makeApplicationUpdater(
    std::shared_ptr<update::UserDriver> driver, update::UpdaterDelegate& delegate,
    std::function<void(std::function<void()> afterQuit)> quit) {
  const auto configuration = update::Configuration::fromInfo(bundle::Bundle::info());
  update::UpdaterHost host;
  host.runningVersion = configuration.version;
  host.executable = runningExecutable();
  host.workDirectory = location(QStandardPaths::CacheLocation) / "update";
  host.stateFile = location(QStandardPaths::AppLocalDataLocation) / "updater.json";
  host.quit = std::move(quit);
  host.launch = launchDetached;
  return std::make_unique<update::FeedUpdater>(configuration, std::move(host), std::move(driver),
                                               delegate);
}

void removeReplacedInstallTree() {
  const auto running = update::Installation::of(runningExecutable());
  if (const auto failure = update::removeReplacedVersion(running)) {
    log::write("[Zephro] The replaced version could not be removed: " +
               failure->localizedDescription());
  }
}

std::filesystem::path applicationLaunchPath(const std::filesystem::path& executable) {
  return update::Installation::of(executable).launchPath();
}

int installForUser(const std::filesystem::path& executable, std::ostream& out, std::ostream& err) {
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] != '/') {
    err << "zephro: HOME is not set, so there is no ~/.local to install into.\n";
    return 1;
  }
  const auto layout = update::UserInstallLayout::inHome(home);
  const auto result = update::installForUser(executable, layout);
  if (const auto* error = std::get_if<Error>(&result)) {
    err << "zephro: " << error->localizedDescription() << "\n";
    return 1;
  }
  const auto& install = std::get<update::UserInstall>(result);
  out << "Zephro " << install.version << " is installed in " << install.tree.string()
      << " and updates itself.\n";
  for (const auto& link : install.linked) out << "Linked " << link.string() << ".\n";
  for (const auto& name : install.leftAlone) {
    out << name.string() << " is something else and was left alone; start Zephro with "
        << (layout.root / update::kCurrentLinkName / "bin" / name.filename()).string() << ".\n";
  }
  return 0;
}

}  // namespace zephro

#include "app/shell/ApplicationUpdater.h"

#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>

#include "platform/bundle/Bundle.h"
#include "platform/log/Log.h"
#include "platform/update/Configuration.h"
#include "platform/update/FeedUpdater.h"
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
  // A build tree has no install prefix; the updater then finds nothing writable.
  host.installPrefix =
      update::installPrefixOf(runningExecutable()).value_or(std::filesystem::path());
  host.workDirectory = location(QStandardPaths::CacheLocation) / "update";
  host.stateFile = location(QStandardPaths::AppLocalDataLocation) / "updater.json";
  host.quit = std::move(quit);
  host.launch = launchDetached;
  return std::make_unique<update::FeedUpdater>(configuration, std::move(host), std::move(driver),
                                               delegate);
}

void removeReplacedInstallTree() {
  const auto prefix = update::installPrefixOf(runningExecutable());
  if (!prefix) return;
  if (const auto failure = update::removePreviousTree(*prefix)) {
    log::write("[Zephro] The replaced version could not be removed: " +
               failure->localizedDescription());
  }
}

}  // namespace zephro

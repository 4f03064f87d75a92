#include <QApplication>
#include <QCoreApplication>
#include <QGuiApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <iterator>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "app/core/HelperClient.h"
#include "app/services/ApplicationUpdater.h"
#include "app/services/telemetry/CrashReport.h"
#include "app/shell/PopoverPicture.h"
#include "app/shell/TrayApplication.h"
#include "app/viewmodel/FanControlViewModel.h"
#include "app/viewmodel/HeadlessApp.h"
#include "app/viewmodel/WakeSource.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/log/Log.h"
#include "platform/servicemanager/ServiceManagerFactory.h"

namespace {

constexpr const char* kUsage =
    "usage: zephro [--headless [--popover-picture FILE]] [--show-onboarding]\n"
    "              [--service-manager development|systemd] | --install-for-user\n"
    "  (no option)        the tray application: the status item and the popover\n"
    "  --headless         check the helper, then print its state, the temperature and\n"
    "                     the highest fan speed every 2 s; on Ctrl-C, SIGTERM or SIGHUP\n"
    "                     hand the fans back to the system and exit\n"
    "  --popover-picture  with --headless: once the helper answers, draw the popover\n"
    "                     offscreen into FILE (PNG) and print its path\n"
    "  --service-manager  how the helper is installed and run (default: systemd, or\n"
    "                     $ZEPHRO_SERVICE_MANAGER): systemd units through polkit, or the\n"
    "                     development helper on an emulated machine\n"
    "  --install-for-user from an unpacked release archive: install it in\n"
    "                     ~/.local/lib/zephro, link it into ~/.local/bin, and let it\n"
    "                     update itself\n";

bool has(const std::vector<std::string>& arguments, const std::string& option) {
  return std::find(arguments.begin(), arguments.end(), option) != arguments.end();
}

// The value after `option`; empty when the option is absent or has none.
std::string valueOf(const std::vector<std::string>& arguments, const std::string& option) {
  const auto found = std::find(arguments.begin(), arguments.end(), option);
  return found != arguments.end() && std::next(found) != arguments.end() ? *std::next(found)
                                                                         : std::string();
}

}  // namespace

int main(int argc, char** argv) {
  zephro::log::setProgramName("zephro");
  // The application's lines go to the journal under its subsystem, where feedback reads them back.
  zephro::log::setDefaultChannel({"com.zephro.app", "app"});
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  if (has(arguments, "--help") || has(arguments, "-h")) {
    std::cout << kUsage;
    return 0;
  }
  if (has(arguments, "--install-for-user")) {
    std::error_code error;
    const auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    return zephro::installForUser(error ? std::filesystem::path(argv[0]) : executable, std::cout,
                                  std::cerr);
  }
  const auto selection =
      zephro::selectServiceManagerBackend(arguments, std::getenv("ZEPHRO_SERVICE_MANAGER"));
  if (!selection.error.empty()) {
    std::cerr << "zephro: " << selection.error << "\n" << kUsage;
    return 64;
  }
  const bool headless = has(arguments, "--headless");
  const std::string picturePath = valueOf(arguments, "--popover-picture");
  if (has(arguments, "--popover-picture") && (!headless || picturePath.empty())) {
    std::cerr << "zephro: --popover-picture needs --headless and a file\n" << kUsage;
    return 64;
  }
  std::unique_ptr<QCoreApplication> application;
  if (headless && !picturePath.empty()) {
    // Drawn without a display, by Qt Quick's software renderer.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND")) qputenv("QT_QUICK_BACKEND", "software");
    application = std::make_unique<QGuiApplication>(argc, argv);
  } else if (headless) {
    application = std::make_unique<QCoreApplication>(argc, argv);
  } else {
    application = std::make_unique<QApplication>(argc, argv);
  }
  // An updated install runs from a folder of its version; the login item names the path
  // that outlives it.
  auto setup = zephro::makeServiceManager(
      selection.backend,
      zephro::ApplicationPaths::forExecutable(
          zephro::applicationLaunchPath(QCoreApplication::applicationFilePath().toStdString())),
      std::make_shared<zephro::ProcessCommandRunner>());
  zephro::HelperClientOptions options;
  options.serviceManager = std::move(setup.manager);
  if (!setup.helperSocket.empty()) {
    options.connectionFactory =
        zephro::HelperClientOptions::connectingTo(setup.helperSocket.string());
  }
  zephro::HelperClient::configureShared(std::move(options));

  zephro::HelperClient& client = zephro::HelperClient::shared();
  zephro::FanControlViewModel viewModel(client, zephro::UserDefaults::standard(),
                                        client.serviceManager(),
                                        std::make_unique<zephro::LogindWakeSource>());
  if (!headless) return zephro::runTrayApplication(viewModel, QCoreApplication::arguments());

  // Without a tray the launch still keeps and sends crash reports, as the tray's does.
  zephro::telemetry::installCrashHandler();
  zephro::telemetry::flushPendingCrash();
  zephro::HeadlessApp app(viewModel, zephro::UserDefaults::standard(),
                          [](const std::string& line) { std::cout << line << std::endl; });

  // The event loop ends only after the fans have been handed back.
  QObject::connect(&app, &zephro::HeadlessApp::quitFinished, application.get(),
                   &QCoreApplication::quit);
  app.quitOnSignals();
  std::unique_ptr<zephro::PopoverPicture> picture;
  if (!picturePath.empty()) {
    picture = std::make_unique<zephro::PopoverPicture>(viewModel, zephro::UserDefaults::standard(),
                                                       QString::fromStdString(picturePath));
    QObject::connect(picture.get(), &zephro::PopoverPicture::written, [](const QString& path) {
      std::cout << "The popover: " << path.toStdString() << std::endl;
    });
    QObject::connect(picture.get(), &zephro::PopoverPicture::failed, [](const QString& reason) {
      std::cerr << "zephro: the popover was not drawn: " << reason.toStdString() << std::endl;
    });
    picture->drawWhenConnected(std::chrono::seconds(10));
  }
  app.start();
  return QCoreApplication::exec();
}

#include <signal.h>

#include <QCoreApplication>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "app/core/HeadlessMonitor.h"
#include "app/core/HelperClient.h"
#include "app/core/UnixSignalNotifier.h"
#include "platform/log/Log.h"
#include "platform/servicemanager/ServiceManagerFactory.h"

namespace {

constexpr const char* kUsage =
    "usage: zephro --headless [--service-manager development|systemd]\n"
    "  --headless         check the helper, then print the fans and temperature every 2 s\n"
    "  --service-manager  how the helper is installed and run (default: systemd, or\n"
    "                     $ZEPHRO_SERVICE_MANAGER): systemd units through polkit, or the\n"
    "                     development helper on an emulated machine\n";

bool has(const std::vector<std::string>& arguments, const std::string& option) {
  return std::find(arguments.begin(), arguments.end(), option) != arguments.end();
}

}  // namespace

int main(int argc, char** argv) {
  zephro::log::setProgramName("zephro");
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  if (has(arguments, "--help") || has(arguments, "-h")) {
    std::cout << kUsage;
    return 0;
  }
  const auto selection =
      zephro::selectServiceManagerBackend(arguments, std::getenv("ZEPHRO_SERVICE_MANAGER"));
  if (!selection.error.empty()) {
    std::cerr << "zephro: " << selection.error << "\n" << kUsage;
    return 64;
  }
  if (!has(arguments, "--headless")) {
    std::cerr << "zephro: this build runs only with --headless\n" << kUsage;
    return 64;
  }

  const QCoreApplication application(argc, argv);
  auto setup =
      zephro::makeServiceManager(selection.backend,
                                 zephro::ApplicationPaths::forExecutable(
                                     QCoreApplication::applicationFilePath().toStdString()),
                                 std::make_shared<zephro::ProcessCommandRunner>());
  zephro::HelperClientOptions options;
  options.serviceManager = std::move(setup.manager);
  if (!setup.helperSocket.empty()) {
    options.connectionFactory =
        zephro::HelperClientOptions::connectingTo(setup.helperSocket.string());
  }
  zephro::HelperClient::configureShared(std::move(options));

  const zephro::UnixSignalNotifier quitSignals({SIGINT, SIGTERM});
  QObject::connect(&quitSignals, &zephro::UnixSignalNotifier::received, &application,
                   &QCoreApplication::quit);

  zephro::HeadlessMonitor monitor(zephro::HelperClient::shared(),
                                  [](const std::string& text) { std::cout << text << std::endl; });
  monitor.start();
  return QCoreApplication::exec();
}

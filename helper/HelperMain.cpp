#include "helper/HelperMain.h"

#include <pthread.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <string_view>
#include <thread>

#include "helper/HelperService.h"
#include "helper/InfoPlist.h"
#include "helper/Sleeper.h"
#include "platform/log/Log.h"
#include "platform/smc/UserClient.h"
#include "platform/xpc/Listener.h"

namespace zephro {
namespace {

constexpr int kUsageError = 64;  // EX_USAGE

constexpr const char* kUsage =
    "usage: com.zephro.helper [--smc emulated:PROFILE[,state=FILE]] [--anchor-key FILE]\n"
    "       com.zephro.helper --print-info\n"
    "\n"
    "The privileged helper of Zephro. It listens on the socket systemd passes, else on\n"
    "$ZEPHRO_HELPER_SOCKET, else on /run/com.zephro.helper.sock.\n"
    "\n"
    "  --smc SPEC        the fan controller: emulated:PROFILE runs an emulated machine\n"
    "                    (a profile name or JSON file), state=FILE keeps its state there\n"
    "  --anchor-key FILE the key clients' signatures must chain to\n"
    "  --print-info      print the embedded information property list and exit\n";

struct Options {
  std::string smc;
  std::filesystem::path anchorKey;
  bool printInfo = false;
};

// nullopt after printing the problem.
std::optional<Options> parse(int argc, char** argv) {
  Options options;
  options.anchorKey = codesign::defaultAnchorKeyPath();
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    const auto value = [&]() -> std::optional<std::string> {
      if (i + 1 >= argc) {
        std::cerr << "com.zephro.helper: " << argument << " needs a value\n" << kUsage;
        return std::nullopt;
      }
      return std::string(argv[++i]);
    };
    if (argument == "--print-info") {
      options.printInfo = true;
    } else if (argument == "--smc") {
      const auto spec = value();
      if (!spec) return std::nullopt;
      options.smc = *spec;
    } else if (argument == "--anchor-key") {
      const auto file = value();
      if (!file) return std::nullopt;
      options.anchorKey = *file;
    } else {
      std::cerr << "com.zephro.helper: unknown option " << argument << "\n" << kUsage;
      return std::nullopt;
    }
  }
  return options;
}

HelperService::SMCOpener smcOpener(std::string spec) {
  auto sleeper = std::make_shared<ThreadSleeper>();
  return [spec = std::move(spec), sleeper](Error* error) {
    auto client = smc::makeUserClient(spec);
    const auto description = client->description();
    auto smc = SMCWrapperObjC::create(std::move(client), sleeper, error);
    if (!smc) log::write("[ZephroHelper] AppleSMC unavailable: " + description);
    return smc;
  };
}

// SIGTERM, SIGINT and SIGHUP stop the listener, so that requests in progress
// finish, forced fans go back to the firmware and a socket file the helper bound
// itself is removed.
sigset_t stopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGHUP);
  return signals;
}

}  // namespace

int helperMain(int argc, char** argv) {
  log::setProgramName(kHelperServiceName);
  const auto options = parse(argc, argv);
  if (!options) return kUsageError;
  if (options->printInfo) {
    std::cout << embeddedInfoPlist();
    return 0;
  }
  // Blocked before any thread starts, so that only the waiting thread takes them.
  const auto signals = stopSignals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  log::write("[ZephroHelper] Starting privileged helper.");
  std::optional<codesign::TrustAnchor> anchor;
  try {
    anchor.emplace(codesign::TrustAnchor::fromFile(options->anchorKey));
  } catch (const std::exception& failure) {
    log::write(std::string("[ZephroHelper] Cannot load the code-signing anchor key: ") +
               failure.what());
    return 1;
  }
  HelperService service(smcOpener(options->smc), *anchor);
  std::unique_ptr<xpc::Listener> listener;
  try {
    listener = xpc::Listener::forService(kHelperServiceName, service);
  } catch (const std::exception& failure) {
    log::write(std::string("[ZephroHelper] Cannot listen for clients: ") + failure.what());
    return 1;
  }
  std::thread stopper([signals, &listener] {
    int received = 0;
    sigwait(&signals, &received);
    listener->stop();
  });
  log::write("[ZephroHelper] XPC listener is running.");
  try {
    listener->run();
  } catch (const std::exception& failure) {
    log::write(std::string("[ZephroHelper] Listener failed: ") + failure.what());
    // SIGTERM is blocked in every thread, so this only wakes the stopper from its sigwait.
    // NOLINTNEXTLINE(bugprone-bad-signal-to-kill-thread)
    pthread_kill(stopper.native_handle(), SIGTERM);
    stopper.join();
    return 1;
  }
  stopper.join();
  service.returnFansBeforeStopping();
  return 0;
}

}  // namespace zephro

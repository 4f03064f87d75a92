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
#include "platform/polkit/PolkitAuthority.h"
#include "platform/smc/SharedUserClient.h"
#include "platform/smc/UserClient.h"
#include "platform/xpc/Listener.h"

namespace zephro {
namespace {

constexpr int kUsageError = 64;  // EX_USAGE

constexpr const char* kUsage =
    "usage: com.zephro.helper [--smc SPEC] [--anchor-key FILE]\n"
    "       com.zephro.helper [--smc SPEC] --release-fans\n"
    "       com.zephro.helper --print-info\n"
    "\n"
    "The privileged helper of Zephro. It listens on the socket systemd passes, else on\n"
    "$ZEPHRO_HELPER_SOCKET, else on /run/com.zephro.helper.sock.\n"
    "\n"
    "  --smc SPEC        the fan controller, chosen once at start-up:\n"
    "                      auto          the first Apple SMC driver present: applesmc,\n"
    "                                    then macsmc-hwmon (read only)\n"
    "                      applesmc, macsmc\n"
    "                                    that driver's device under /sys\n"
    "                      applesmc:DIR, macsmc:DIR\n"
    "                                    that driver's attributes in DIR\n"
    "                      auto:SYSFS    auto, searching SYSFS instead of /sys\n"
    "                      emulated:PROFILE[,state=FILE]\n"
    "                                    an emulated machine (a profile name or JSON\n"
    "                                    file), keeping its state in FILE\n"
    "  --anchor-key FILE the key clients' signatures must chain to\n"
    "  --release-fans    hand every forced fan back to the firmware and exit (the\n"
    "                    unit runs it once the helper has stopped, however it ended)\n"
    "  --print-info      print the embedded information property list and exit\n";

struct Options {
  std::string smc;
  std::filesystem::path anchorKey;
  bool printInfo = false;
  bool releaseFans = false;
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
    } else if (argument == "--release-fans") {
      options.releaseFans = true;
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

// Every attempt to open the SMC uses the one client made at start-up.
HelperService::SMCOpener smcOpener(std::shared_ptr<smc::UserClient> client) {
  auto sleeper = std::make_shared<ThreadSleeper>();
  return [client = std::move(client), sleeper](Error* error) {
    auto smc =
        SMCWrapperObjC::create(std::make_unique<smc::SharedUserClient>(client), sleeper, error);
    if (!smc) log::write("[ZephroHelper] AppleSMC unavailable: " + client->description());
    return smc;
  };
}

// A helper that starts holds no lease, and one that has stopped can answer for
// nothing: either way the firmware's control is the only safe state for the fans.
// True unless handing them back failed.
bool releaseForcedFans(const std::shared_ptr<smc::UserClient>& client, const std::string& line) {
  Error error;
  auto smc = SMCWrapperObjC::create(std::make_unique<smc::SharedUserClient>(client),
                                    std::make_shared<ThreadSleeper>(), &error);
  if (!smc || !anyFanForced(*smc)) return true;
  log::write(line);
  return returnAllFans(*smc);
}

// SIGTERM, SIGINT and SIGHUP hand forced fans back first, then stop the listener,
// so that no connection (however stuck) stands between a stop and the firmware, and
// a socket file the helper bound itself is removed.
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

  // Made before any caller is served: a device search, and where it leads, is the
  // command line's alone.
  const std::shared_ptr<smc::UserClient> smcClient = smc::makeUserClient(options->smc);
  if (options->releaseFans) {
    return releaseForcedFans(smcClient,
                             "[ZephroHelper] The helper has stopped: returning the fans to "
                             "system control.")
               ? 0
               : 1;
  }

  log::write("[ZephroHelper] Starting privileged helper.");
  releaseForcedFans(smcClient, "[ZephroHelper] Starting: returning the fans to system control.");
  std::optional<codesign::TrustAnchor> anchor;
  try {
    anchor.emplace(codesign::TrustAnchor::fromFile(options->anchorKey));
  } catch (const std::exception& failure) {
    log::write(std::string("[ZephroHelper] Cannot load the code-signing anchor key: ") +
               failure.what());
    return 1;
  }
  polkit::SystemBusAuthority authority;
  HelperService service(smcOpener(smcClient), *anchor, authority);
  std::unique_ptr<xpc::Listener> listener;
  try {
    listener = xpc::Listener::forService(kHelperServiceName, service);
  } catch (const std::exception& failure) {
    log::write(std::string("[ZephroHelper] Cannot listen for clients: ") + failure.what());
    return 1;
  }
  std::thread stopper([signals, &listener, &service] {
    int received = 0;
    sigwait(&signals, &received);
    service.returnFansBeforeStopping();
    listener->stop();
  });
  log::write("[ZephroHelper] XPC listener is running.");
  log::write("[ZephroHelper] SMC backend: " + smcClient->description());
  try {
    listener->run();
  } catch (const std::exception& failure) {
    log::write(std::string("[ZephroHelper] Listener failed: ") + failure.what());
    service.returnFansBeforeStopping();
    // SIGTERM is blocked in every thread, so this only wakes the stopper from its sigwait.
    // NOLINTNEXTLINE(bugprone-bad-signal-to-kill-thread)
    pthread_kill(stopper.native_handle(), SIGTERM);
    stopper.join();
    return 1;
  }
  stopper.join();
  return 0;
}

}  // namespace zephro

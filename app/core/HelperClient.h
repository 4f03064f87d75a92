#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QCoro/QCoroTask>

#include "platform/servicemanager/ServiceManager.h"
#include "platform/xpc/Connection.h"
#include "protocol/FanInfoDTO.h"
#include "protocol/FanMode.h"
#include "protocol/HelperProtocol.h"

namespace zephro {

struct HelperClientOptions {
  // Makes a new, suspended connection to the helper; by default to the service
  // "com.zephro.helper" (its socket can be moved with ZEPHRO_HELPER_SOCKET).
  std::function<std::shared_ptr<xpc::Connection>()> connectionFactory;
  // Registers and repairs the helper. Required for registerHelper and verifyHelperAtLaunch.
  std::shared_ptr<ServiceManager> serviceManager;
  std::chrono::milliseconds callTimeout{15000};
  std::chrono::milliseconds versionTimeout{3000};
  // After a registration the status is read again up to settleRounds times, this far apart.
  std::chrono::milliseconds settleInterval{100};
  int settleRounds = 15;

  // A connection factory for an explicit socket path.
  [[nodiscard]] static std::function<std::shared_ptr<xpc::Connection>()> connectingTo(
      std::string socketPath);
};

// The application's only door to the helper. It owns the one connection (made by the
// first call that needs it, dropped when the connection is invalidated or interrupted,
// when a call on it goes unanswered, and by invalidateConnection()) and turns each
// remote operation into a task that returns the result or throws: RemoteError for an
// error from the helper or the connection, HelperInstallError::unavailable when no
// answer came in time (also for the other calls on a connection dropped for that).
//
// Calls may be made from the main thread and awaited there; their tasks resume on it.
// The client may go away while calls are outstanding: they still end, exactly once.
class HelperClient {
 public:
  explicit HelperClient(HelperClientOptions options);
  ~HelperClient();
  HelperClient(const HelperClient&) = delete;
  HelperClient& operator=(const HelperClient&) = delete;

  // The process's client. Configure it once at start-up, before the first use; without
  // that it talks to the system helper through the systemd service manager.
  [[nodiscard]] static HelperClient& shared();
  static void configureShared(HelperClientOptions options);

  // getFanInfoWithReply:, in the helper's fan order.
  [[nodiscard]] QCoro::Task<std::vector<FanInfoDTO>> fetchFanInfo();
  // getSystemTemperatureWithReply:, degrees Celsius.
  [[nodiscard]] QCoro::Task<double> fetchSystemTemperature();
  // getVersionWithReply:, with the shorter time-out.
  [[nodiscard]] QCoro::Task<std::string> fetchHelperVersion();
  // setFanMode:percentages:reply:. One percentage per fan; empty for system mode.
  [[nodiscard]] QCoro::Task<> setMode(FanMode mode, std::vector<int> percentages);

  // Invalidates and drops the current connection, if any; the next call makes a new one.
  void invalidateConnection();
  [[nodiscard]] bool hasConnection() const;

  // Registers the helper with the service manager or, when it is enabled and
  // forceRefresh is set, registers it again so the current binary runs. Blocks its
  // thread (service-manager calls and the settling wait): never call it on the main
  // thread. Throws HelperInstallError.
  void registerHelper(bool forceRefresh);
  // registerHelper on a worker thread, awaited.
  [[nodiscard]] QCoro::Task<> registerHelperInBackground(bool forceRefresh);
  // The launch check: asks the running helper for its version and registers or repairs
  // it when it is unreachable or not the version this application expects.
  [[nodiscard]] QCoro::Task<> verifyHelperAtLaunch();

  [[nodiscard]] ServiceManager& serviceManager() const;

  struct State;

 private:
  std::shared_ptr<State> state_;
};

}  // namespace zephro

#include "app/core/HelperClient.h"

#include <atomic>
#include <mutex>
#include <optional>
#include <thread>

#include <QCoreApplication>

#include "app/core/HelperInstallError.h"
#include "app/core/HelperRegistration.h"
#include "app/core/PendingReply.h"
#include "app/core/RemoteError.h"
#include "app/core/TimerThread.h"
#include "app/core/WorkerThread.h"
#include "platform/log/Log.h"
#include "platform/servicemanager/ServiceManagerFactory.h"
#include "protocol/remote/RemoteHelper.h"

namespace zephro {

struct HelperClient::State : std::enable_shared_from_this<HelperClient::State> {
  // The connection a call goes out on, with the mark a time-out leaves on it.
  struct Link {
    std::shared_ptr<xpc::Connection> connection;
    // Set when a call on this connection went unanswered and the connection was dropped
    // for it: the calls it still carried end as unanswered too, not as transport errors.
    std::shared_ptr<std::atomic<bool>> abandoned;
  };

  explicit State(HelperClientOptions options) : options(std::move(options)) {}

  ~State() {
    if (link.connection) link.connection->invalidate();
  }

  Link currentLink() {
    Link made;
    {
      const std::lock_guard lock(mutex);
      if (link.connection) return link;
      made = {options.connectionFactory(), std::make_shared<std::atomic<bool>>(false)};
      // Both handlers only forget the connection; the next call builds a new one, so
      // an interrupted connection is never reused. They hold the client weakly and
      // compare identities, so a late event of an old connection leaves a newer one be.
      const std::weak_ptr<State> weak = weak_from_this();
      const xpc::Connection* const identity = made.connection.get();
      const auto forget = [weak, identity] {
        if (const auto state = weak.lock()) state->forget(identity);
      };
      made.connection->setInvalidationHandler(forget);
      made.connection->setInterruptionHandler(forget);
      link = made;
    }
    // Outside the lock: a connection that fails at once may run its handler right here.
    made.connection->resume();
    return made;
  }

  void forget(const xpc::Connection* identity) {
    Link dropped;
    const std::lock_guard lock(mutex);
    if (link.connection.get() == identity) dropped = std::exchange(link, {});
  }

  void invalidate() {
    Link dropped;
    {
      const std::lock_guard lock(mutex);
      dropped = std::exchange(link, {});
    }
    // Outside the lock, because invalidating runs the invalidation handler, which takes it.
    if (dropped.connection) dropped.connection->invalidate();
  }

  // After a call on it timed out. Only that connection goes: one that has already been
  // replaced is left to the newer one's calls.
  void abandon(const std::weak_ptr<xpc::Connection>& stuck) {
    Link dropped;
    {
      const std::lock_guard lock(mutex);
      const auto candidate = stuck.lock();
      if (!candidate || candidate != link.connection) return;
      dropped = std::exchange(link, {});
    }
    dropped.abandoned->store(true);
    dropped.connection->invalidate();
  }

  // The call's time-out. The helper answers one call after another on a connection, so
  // a call left unanswered would hold up every later one: the connection goes with it.
  template <typename T>
  void armTimeout(const std::shared_ptr<PendingReply<T>>& pending, const Link& on,
                  std::chrono::milliseconds timeout) {
    TimerThread::shared().schedule(
        timeout,
        [pending, weak = weak_from_this(), stuck = std::weak_ptr<xpc::Connection>(on.connection)] {
          if (!pending->reject(HelperInstallError::unavailable())) return;
          if (const auto state = weak.lock()) state->abandon(stuck);
        });
  }

  // A transport error ends the call with that error, logged after logPrefix unless it is
  // empty; on a connection dropped for a time-out the call ends as unanswered, silently.
  template <typename T>
  static xpc::Connection::ErrorHandler transportErrorHandler(
      std::shared_ptr<PendingReply<T>> pending, const Link& on, std::string logPrefix = {}) {
    return [pending = std::move(pending), abandoned = on.abandoned,
            logPrefix = std::move(logPrefix)](const Error& error) {
      if (abandoned->load()) {
        pending->reject(HelperInstallError::unavailable());
        return;
      }
      if (!logPrefix.empty()) log::write(logPrefix + error.fullDescription());
      pending->reject(RemoteError(error));
    };
  }

  void registerHelper(bool forceRefresh) {
    if (!options.serviceManager) {
      throw HelperInstallError::registrationFailed("no service manager is configured");
    }
    const SettlingWait wait{options.settleInterval, options.settleRounds};
    registerHelperService(*options.serviceManager, forceRefresh, wait, [this] { invalidate(); });
  }

  const HelperClientOptions options;
  mutable std::mutex mutex;
  Link link;
};

namespace {

// Each call is a free coroutine that holds the client's state, so that a client
// destroyed while a call is outstanding leaves nothing dangling.
QCoro::Task<std::vector<FanInfoDTO>> fetchFanInfoWith(std::shared_ptr<HelperClient::State> state) {
  const auto pending = PendingReply<std::vector<FanInfoDTO>>::make();
  const auto link = state->currentLink();
  state->armTimeout(pending, link, state->options.callTimeout);
  const auto proxy = remoteHelperProxy(link.connection,
                                       HelperClient::State::transportErrorHandler(
                                           pending, link, "[Zephro] XPC Error in fetchFanInfo: "));
  proxy->getFanInfo([pending](std::vector<FanInfoDTO> fans, std::optional<Error> error) {
    // A machine without fans is answered as "fanCount is 0": not a failure, an empty list.
    // A negative count means the controller could not be read, and stays an error.
    if (error && error->domain == "HelperError" && error->code == 0 && fans.empty()) {
      pending->resolve({});
      return;
    }
    // An error wins over fans that came with it.
    if (error) {
      log::write("[Zephro] Helper returned error: " + error->fullDescription());
      pending->reject(RemoteError(std::move(*error)));
      return;
    }
    pending->resolve(std::move(fans));
  });
  co_return co_await *pending;
}

QCoro::Task<double> fetchSystemTemperatureWith(std::shared_ptr<HelperClient::State> state) {
  const auto pending = PendingReply<double>::make();
  const auto link = state->currentLink();
  state->armTimeout(pending, link, state->options.callTimeout);
  const auto proxy = remoteHelperProxy(
      link.connection, HelperClient::State::transportErrorHandler(
                           pending, link, "[Zephro] XPC Error in fetchSystemTemperature: "));
  proxy->getSystemTemperature([pending](double celsius, std::optional<Error> error) {
    if (error) {
      log::write("[Zephro] Helper returned error: " + error->fullDescription());
      pending->reject(RemoteError(std::move(*error)));
      return;
    }
    pending->resolve(celsius);
  });
  co_return co_await *pending;
}

QCoro::Task<std::string> fetchHelperVersionWith(std::shared_ptr<HelperClient::State> state) {
  const auto pending = PendingReply<std::string>::make();
  const auto link = state->currentLink();
  state->armTimeout(pending, link, state->options.versionTimeout);
  const auto proxy =
      remoteHelperProxy(link.connection, HelperClient::State::transportErrorHandler(pending, link));
  proxy->getVersion([pending](std::string version) { pending->resolve(std::move(version)); });
  co_return co_await *pending;
}

QCoro::Task<> setModeWith(std::shared_ptr<HelperClient::State> state, FanMode mode,
                          std::vector<int> percentages) {
  const auto pending = PendingReply<void>::make();
  const auto link = state->currentLink();
  state->armTimeout(pending, link, state->options.callTimeout);
  const auto proxy =
      remoteHelperProxy(link.connection, HelperClient::State::transportErrorHandler(pending, link));
  const std::vector<std::int64_t> wirePercentages(percentages.begin(), percentages.end());
  proxy->setFanMode(rawValue(mode), wirePercentages, [pending](std::optional<Error> error) {
    if (error) {
      pending->reject(RemoteError(std::move(*error)));
      return;
    }
    pending->resolve();
  });
  co_await *pending;
}

// Tasks are made in statements of their own, then awaited: GCC 12 destroys some
// temporaries built inside a co_await expression twice (see app/core/Detach.h).
QCoro::Task<> registerHelperWith(std::shared_ptr<HelperClient::State> state, bool forceRefresh) {
  auto registration =
      onWorkerThread([state, forceRefresh] { state->registerHelper(forceRefresh); });
  co_await registration;
}

QCoro::Task<> verifyHelperAtLaunchWith(std::shared_ptr<HelperClient::State> state) {
  std::optional<std::string> version;
  try {
    auto fetch = fetchHelperVersionWith(state);
    version = co_await fetch;
  } catch (...) {
    // Not installed, not approved, not running or silent: all mean install or repair.
  }
  if (!version) {
    log::write("[Zephro] Helper unreachable at launch \u2014 attempting install/repair.");
    state->invalidate();
    auto repair = registerHelperWith(state, true);
    co_await repair;
    co_return;
  }
  if (*version == kHelperProtocolVersion) {
    log::write("[Zephro] Helper healthy (version " + *version + ") \u2014 leaving it alone.");
    co_return;
  }
  log::write("[Zephro] Helper version " + *version + " != " + kHelperProtocolVersion +
             " \u2014 refreshing binary.");
  state->invalidate();
  auto refresh = registerHelperWith(state, true);
  co_await refresh;
}

std::mutex sharedMutex;
std::optional<HelperClientOptions> sharedOptions;

HelperClientOptions defaultOptions() {
  HelperClientOptions options;
  const auto executable = QCoreApplication::instance() != nullptr
                              ? QCoreApplication::applicationFilePath().toStdString()
                              : std::string("/usr/bin/zephro");
  options.serviceManager = makeServiceManager(ServiceManagerBackend::systemd,
                                              ApplicationPaths::forExecutable(executable),
                                              std::make_shared<ProcessCommandRunner>())
                               .manager;
  return options;
}

}  // namespace

std::function<std::shared_ptr<xpc::Connection>()> HelperClientOptions::connectingTo(
    std::string socketPath) {
  return [socketPath = std::move(socketPath)] { return xpc::Connection::toSocketPath(socketPath); };
}

HelperClient::HelperClient(HelperClientOptions options) {
  if (!options.connectionFactory) {
    options.connectionFactory = [] { return xpc::Connection::toService(kHelperServiceName); };
  }
  state_ = std::make_shared<State>(std::move(options));
}

HelperClient::~HelperClient() {
  state_->invalidate();
}

HelperClient& HelperClient::shared() {
  static HelperClient client([] {
    const std::lock_guard lock(sharedMutex);
    return sharedOptions ? std::move(*sharedOptions) : defaultOptions();
  }());
  return client;
}

void HelperClient::configureShared(HelperClientOptions options) {
  const std::lock_guard lock(sharedMutex);
  sharedOptions = std::move(options);
}

QCoro::Task<std::vector<FanInfoDTO>> HelperClient::fetchFanInfo() {
  return fetchFanInfoWith(state_);
}

QCoro::Task<double> HelperClient::fetchSystemTemperature() {
  return fetchSystemTemperatureWith(state_);
}

QCoro::Task<std::string> HelperClient::fetchHelperVersion() {
  return fetchHelperVersionWith(state_);
}

QCoro::Task<> HelperClient::setMode(FanMode mode, std::vector<int> percentages) {
  return setModeWith(state_, mode, std::move(percentages));
}

void HelperClient::invalidateConnection() {
  state_->invalidate();
}

bool HelperClient::hasConnection() const {
  const std::lock_guard lock(state_->mutex);
  return state_->link.connection != nullptr;
}

void HelperClient::registerHelper(bool forceRefresh) {
  state_->registerHelper(forceRefresh);
}

QCoro::Task<> HelperClient::registerHelperInBackground(bool forceRefresh) {
  return registerHelperWith(state_, forceRefresh);
}

QCoro::Task<> HelperClient::verifyHelperAtLaunch() {
  return verifyHelperAtLaunchWith(state_);
}

ServiceManager& HelperClient::serviceManager() const {
  return *state_->options.serviceManager;
}

}  // namespace zephro

// A client of the helper for the daemon tests, built signed and unsigned. It runs
// the commands on its command line over one connection and prints one line each:
//   version                  version <text>
//   fans                     fans <mode>,<mode>...   (or: error <description>)
//   temperature              temperature <celsius>   (or: error <description>)
//   mode M P,P,...|none      ok                      (or: error <description>)
//   reconnect                reconnected             (closes the connection, opens another)
//   hold                     holding                 (then waits, alive, until killed)
//   exec-after-connect PROGRAM ARGS...
//                            connects, then execs PROGRAM while a child keeps the socket
//                            and asks for max: refused | ok | error <description>
// A transport failure prints "transport <code>", a missing answer "timeout".
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/xpc/Frame.h"
#include "platform/xpc/Message.h"
#include "platform/xpc/Socket.h"
#include "protocol/KeyedArchive.h"
#include "protocol/remote/RemoteHelper.h"

namespace {

using namespace zephro;

constexpr auto kWait = std::chrono::seconds(60);

const char* modeName(FanMode mode) {
  switch (mode) {
    case FanMode::system:
      return "system";
    case FanMode::manual:
      return "manual";
    case FanMode::max:
      return "max";
  }
  return "?";
}

std::vector<std::int64_t> percentagesFrom(const std::string& text) {
  std::vector<std::int64_t> values;
  std::stringstream stream(text);
  std::string item;
  while (std::getline(stream, item, ',')) values.push_back(std::stoll(item));
  return values;
}

// One line per call: whichever of reply and transport error comes first.
class Session {
 public:
  explicit Session(const std::string& socket) : connection_(xpc::Connection::toSocketPath(socket)) {
    connection_->resume();
    proxy_ = remoteHelperProxy(connection_, [this](const Error& error) {
      answer("transport " + std::to_string(error.code));
    });
  }
  ~Session() { connection_->invalidate(); }

  std::string version() {
    return call(
        [this] { proxy_->getVersion([this](const std::string& v) { answer("version " + v); }); });
  }

  std::string fans() {
    return call([this] {
      proxy_->getFanInfo(
          [this](const std::vector<FanInfoDTO>& fans, const std::optional<Error>& error) {
            if (error) return answer("error " + error->fullDescription());
            std::string modes;
            for (const auto& fan : fans) {
              if (!modes.empty()) modes += ',';
              modes += modeName(fan.mode());
            }
            answer("fans " + modes);
          });
    });
  }

  std::string temperature() {
    return call([this] {
      proxy_->getSystemTemperature([this](double celsius, const std::optional<Error>& error) {
        if (error) return answer("error " + error->fullDescription());
        std::ostringstream line;
        line << "temperature " << celsius;
        answer(line.str());
      });
    });
  }

  std::string mode(std::int64_t mode, std::vector<std::int64_t> percentages) {
    return call([&] {
      proxy_->setFanMode(mode, percentages, [this](std::optional<Error> error) {
        answer(error ? "error " + error->fullDescription() : "ok");
      });
    });
  }

 private:
  template <typename Send>
  std::string call(Send send) {
    promise_ = std::promise<std::string>();
    auto future = promise_.get_future();
    send();
    if (future.wait_for(kWait) != std::future_status::ready) return "timeout";
    return future.get();
  }
  void answer(std::string line) { promise_.set_value(std::move(line)); }

  std::shared_ptr<xpc::Connection> connection_;
  std::shared_ptr<HelperProtocol> proxy_;
  std::promise<std::string> promise_;
};

bool waitReadable(int fd) {
  pollfd entry{fd, POLLIN, 0};
  return ::poll(&entry, 1, static_cast<int>(std::chrono::milliseconds(kWait).count())) > 0;
}

// The next message on a raw connection; nothing once it ends or stays silent.
std::optional<xpc::Message> receive(int fd, xpc::FrameDecoder& decoder) {
  std::uint8_t buffer[4096];
  for (;;) {
    if (auto payload = decoder.next()) return xpc::Message::fromCbor(*payload);
    if (!waitReadable(fd)) return std::nullopt;
    const auto got = ::read(fd, buffer, sizeof buffer);
    if (got <= 0) return std::nullopt;
    decoder.feed({buffer, static_cast<std::size_t>(got)});
  }
}

// The socket outlives this program's image: a child keeps it and, once the helper has
// decided about the connection (made by what is by then another program), asks for max.
int execAfterConnect(const std::string& socket, char** program) {
  std::string error;
  auto fd = xpc::connectUnixSocket(socket, error);
  if (!fd.valid()) {
    std::cout << "transport " << error << std::endl;
    return 1;
  }
  const pid_t child = ::fork();
  if (child < 0) return 1;
  if (child > 0) {
    ::execv(program[0], program);
    return 1;
  }
  xpc::FrameDecoder decoder;
  if (!receive(fd.get(), decoder)) {
    std::cout << "refused" << std::endl;
    ::_exit(0);
  }
  const auto invoke = xpc::Message::invoke(
      1, selector::kSetFanMode, nlohmann::json::array({2, archive::archiveNumberArray({})}));
  if (!xpc::writeAll(fd.get(), xpc::encodeFrame(invoke.toCbor()), kWait)) ::_exit(1);
  const auto reply = receive(fd.get(), decoder);
  if (!reply) {
    std::cout << "closed" << std::endl;
    ::_exit(0);
  }
  const auto failure = archive::decodeOptionalError(reply->arguments.at(0));
  std::cout << (failure ? "error " + failure->fullDescription() : "ok") << std::endl;
  ::_exit(0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "usage: " << argv[0] << " SOCKET COMMAND...\n";
    return 2;
  }
  const std::string socket = argv[1];
  auto session = std::make_unique<Session>(socket);
  for (int i = 2; i < argc; ++i) {
    const std::string command = argv[i];
    if (command == "version") {
      std::cout << session->version() << std::endl;
    } else if (command == "fans") {
      std::cout << session->fans() << std::endl;
    } else if (command == "temperature") {
      std::cout << session->temperature() << std::endl;
    } else if (command == "mode" && i + 2 < argc) {
      const auto mode = std::stoll(argv[++i]);
      const std::string list = argv[++i];
      std::cout << session->mode(
                       mode, list == "none" ? std::vector<std::int64_t>{} : percentagesFrom(list))
                << std::endl;
    } else if (command == "reconnect") {
      session.reset();
      session = std::make_unique<Session>(socket);
      std::cout << "reconnected" << std::endl;
    } else if (command == "hold") {
      std::cout << "holding" << std::endl;
      for (;;) ::pause();
    } else if (command == "exec-after-connect" && i + 1 < argc) {
      session.reset();
      return execAfterConnect(socket, argv + i + 1);
    } else {
      std::cerr << "unknown command " << command << "\n";
      return 2;
    }
  }
  return 0;
}

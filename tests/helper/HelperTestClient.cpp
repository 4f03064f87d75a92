// Runs its commands over one connection, one line each: version, fans, temperature,
// mode M P,P,...|none; reconnect; hold (alive until killed); exec-after-connect PROGRAM...
// (a child keeps the socket and asks for max); hello (one raw byte, for the code-signing
// peer tests). A transport failure prints "transport <code>", a missing answer "timeout".
#include <poll.h>
#include <unistd.h>

#include <future>
#include <iostream>
#include <sstream>

#include "platform/xpc/Frame.h"
#include "platform/xpc/Message.h"
#include "platform/xpc/Socket.h"
#include "protocol/KeyedArchive.h"
#include "protocol/remote/RemoteHelper.h"

namespace {

using namespace zephro;
using Answer = std::function<void(std::string)>;

constexpr auto kWait = std::chrono::seconds(60);

std::string errorOr(const std::optional<Error>& error, const std::string& line) {
  return error ? "error " + error->fullDescription() : line;
}

class Session {
 public:
  explicit Session(const std::string& socket) : connection_(xpc::Connection::toSocketPath(socket)) {
    connection_->resume();
    proxy_ = remoteHelperProxy(connection_, [this](const Error& error) {
      answer_("transport " + std::to_string(error.code));
    });
  }
  ~Session() { connection_->invalidate(); }

  // Whichever of the reply and a transport error comes first.
  std::string call(const std::function<void(HelperProtocol&, const Answer&)>& send) {
    promise_ = std::promise<std::string>();
    auto future = promise_.get_future();
    send(*proxy_, answer_);
    return future.wait_for(kWait) == std::future_status::ready ? future.get() : "timeout";
  }

 private:
  std::shared_ptr<xpc::Connection> connection_;
  std::shared_ptr<HelperProtocol> proxy_;
  std::promise<std::string> promise_;
  Answer answer_ = [this](std::string line) { promise_.set_value(std::move(line)); };
};

std::string command(Session& session, const std::string& name, const std::string& mode,
                    const std::string& percentages) {
  return session.call([&](HelperProtocol& helper, const Answer& answer) {
    if (name == "version") {
      helper.getVersion([answer](const std::string& version) { answer("version " + version); });
    } else if (name == "fans") {
      helper.getFanInfo([answer](const std::vector<FanInfoDTO>& fans, const auto& error) {
        constexpr const char* kNames[] = {"system", "manual", "max"};
        std::string modes;
        for (const auto& fan : fans) {
          modes += (modes.empty() ? "" : ",") + std::string(kNames[rawValue(fan.mode())]);
        }
        answer(errorOr(error, "fans " + modes));
      });
    } else if (name == "temperature") {
      helper.getSystemTemperature([answer](double celsius, const auto& error) {
        std::ostringstream line;
        line << "temperature " << celsius;
        answer(errorOr(error, line.str()));
      });
    } else {
      std::vector<std::int64_t> values;
      std::stringstream list(percentages == "none" ? "" : percentages);
      for (std::string item; std::getline(list, item, ',');) values.push_back(std::stoll(item));
      helper.setFanMode(std::stoll(mode), values,
                        [answer](const auto& error) { answer(errorOr(error, "ok")); });
    }
  });
}

// The next message on a raw connection; nothing once it ends or stays silent.
std::optional<xpc::Message> receive(int fd, xpc::FrameDecoder& decoder) {
  std::uint8_t buffer[4096];
  for (;;) {
    if (auto payload = decoder.next()) return xpc::Message::fromCbor(*payload);
    pollfd entry{fd, POLLIN, 0};
    if (::poll(&entry, 1, static_cast<int>(std::chrono::milliseconds(kWait).count())) <= 0) {
      return std::nullopt;
    }
    const auto got = ::read(fd, buffer, sizeof buffer);
    if (got <= 0) return std::nullopt;
    decoder.feed({buffer, static_cast<std::size_t>(got)});
  }
}

// A child keeps the socket past exec and, once the helper has decided, asks for max.
int execAfterConnect(const std::string& socket, char** program) {
  std::string error;
  auto fd = xpc::connectUnixSocket(socket, error);
  const pid_t child = fd.valid() ? ::fork() : -1;
  if (child != 0) {
    if (child > 0) ::execv(program[0], program);
    std::cout << "transport " << error << std::endl;
    return 1;
  }
  xpc::FrameDecoder decoder;
  std::string line = "refused";
  if (receive(fd.get(), decoder)) {
    const auto invoke = xpc::Message::invoke(
        1, selector::kSetFanMode, nlohmann::json::array({2, archive::archiveNumberArray({})}));
    if (!xpc::writeAll(fd.get(), xpc::encodeFrame(invoke.toCbor()), kWait)) ::_exit(1);
    const auto reply = receive(fd.get(), decoder);
    line = reply ? errorOr(archive::decodeOptionalError(reply->arguments.at(0)), "ok") : "closed";
  }
  std::cout << line << std::endl;
  ::_exit(0);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string socket = argc > 1 ? argv[1] : "";
  std::unique_ptr<Session> session;
  const auto connected = [&]() -> Session& {
    if (!session) session = std::make_unique<Session>(socket);
    return *session;
  };
  for (int i = 2; i < argc; ++i) {
    const std::string name = argv[i];
    if (name == "hello") {
      std::string error;
      const auto fd = xpc::connectUnixSocket(socket, error);
      char byte = 'h';
      if (!fd.valid() || ::write(fd.get(), &byte, 1) != 1) return 1;
      while (::read(fd.get(), &byte, 1) < 0) {
      }
    } else if (name == "reconnect") {
      session = nullptr;
      session = std::make_unique<Session>(socket);
      std::cout << "reconnected" << std::endl;
    } else if (name == "hold") {
      std::cout << "holding" << std::endl;
      for (;;) ::pause();
    } else if (name == "exec-after-connect" && i + 1 < argc) {
      session = nullptr;
      return execAfterConnect(socket, argv + i + 1);
    } else if (name == "mode" && i + 2 < argc) {
      std::cout << command(connected(), name, argv[i + 1], argv[i + 2]) << std::endl;
      i += 2;
    } else if (name == "version" || name == "fans" || name == "temperature") {
      std::cout << command(connected(), name, "", "") << std::endl;
    } else {
      std::cerr << "unknown command " << name << "\n";
      return 2;
    }
  }
  return 0;
}

#include "platform/polkit/PolkitAuthority.h"

#include <systemd/sd-bus.h>

#include <cstring>
#include <memory>

namespace zephro::polkit {
namespace {

struct BusUnref {
  void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
struct MessageUnref {
  void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using Bus = std::unique_ptr<sd_bus, BusUnref>;
using Message = std::unique_ptr<sd_bus_message, MessageUnref>;

// Frees an sd_bus_error however the call ends.
class BusError {
 public:
  BusError() = default;
  ~BusError() { sd_bus_error_free(&error_); }
  BusError(const BusError&) = delete;
  BusError& operator=(const BusError&) = delete;

  sd_bus_error* get() { return &error_; }
  [[nodiscard]] std::string text(int result) const {
    if (sd_bus_error_is_set(&error_) != 0 && error_.message != nullptr) return error_.message;
    return std::strerror(-result);
  }

 private:
  sd_bus_error error_ = SD_BUS_ERROR_NULL;
};

// The subject, (sa{sv}): a unix-process with its pid, start time and user.
int appendSubject(sd_bus_message* message, const Subject& subject) {
  int r = sd_bus_message_open_container(message, 'r', "sa{sv}");
  if (r >= 0) r = sd_bus_message_append(message, "s", "unix-process");
  if (r >= 0) r = sd_bus_message_open_container(message, 'a', "{sv}");
  if (r >= 0) r = sd_bus_message_append(message, "{sv}", "pid", "u", std::uint32_t(subject.pid));
  if (r >= 0) r = sd_bus_message_append(message, "{sv}", "start-time", "t", subject.startTime);
  if (r >= 0) r = sd_bus_message_append(message, "{sv}", "uid", "i", std::int32_t(subject.uid));
  if (r >= 0 && subject.pidfd >= 0) {
    r = sd_bus_message_append(message, "{sv}", "pidfd", "h", subject.pidfd);
  }
  if (r >= 0) r = sd_bus_message_close_container(message);
  if (r >= 0) r = sd_bus_message_close_container(message);
  return r;
}

Decision unavailable(std::string reason) {
  return {Decision::Answer::unavailable, std::move(reason)};
}

}  // namespace

Decision SystemBusAuthority::check(const std::string& actionId, const Subject& subject) {
  sd_bus* rawBus = nullptr;
  if (const int r = sd_bus_open_system(&rawBus); r < 0) {
    return unavailable(std::string("no system bus: ") + std::strerror(-r));
  }
  const Bus bus(rawBus);
  sd_bus_message* rawMessage = nullptr;
  int r = sd_bus_message_new_method_call(
      bus.get(), &rawMessage, "org.freedesktop.PolicyKit1", "/org/freedesktop/PolicyKit1/Authority",
      "org.freedesktop.PolicyKit1.Authority", "CheckAuthorization");
  const Message message(rawMessage);
  if (r >= 0) r = appendSubject(message.get(), subject);
  // No details, no flags (so never interactive), no cancellation id.
  if (r >= 0) r = sd_bus_message_append(message.get(), "sa{ss}us", actionId.c_str(), 0, 0U, "");
  if (r < 0) return unavailable(std::string("cannot build the request: ") + std::strerror(-r));

  BusError error;
  sd_bus_message* rawReply = nullptr;
  const auto usec = static_cast<std::uint64_t>(timeout_.count()) * 1000;
  r = sd_bus_call(bus.get(), message.get(), usec, error.get(), &rawReply);
  const Message reply(rawReply);
  if (r < 0) return unavailable(error.text(r));

  int authorized = 0;
  int challenge = 0;
  r = sd_bus_message_enter_container(reply.get(), 'r', "bba{ss}");
  if (r >= 0) r = sd_bus_message_read(reply.get(), "bb", &authorized, &challenge);
  if (r < 0) return unavailable(std::string("unreadable answer: ") + std::strerror(-r));
  return {authorized != 0 ? Decision::Answer::authorized : Decision::Answer::notAuthorized, {}};
}

}  // namespace zephro::polkit

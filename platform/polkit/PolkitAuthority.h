#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>

namespace zephro::polkit {

// The process whose authorization is asked, pinned the way polkit pins a
// unix-process subject: its pid with its start time (clock ticks after boot) and
// its user. A pidfd, where there is one, is sent too for polkit versions that take it.
struct Subject {
  pid_t pid = 0;
  std::uint64_t startTime = 0;
  uid_t uid = 0;
  int pidfd = -1;  // borrowed
};

struct Decision {
  enum class Answer { authorized, notAuthorized, unavailable };
  Answer answer = Answer::unavailable;
  // Why polkit could not be asked; empty otherwise.
  std::string reason;
};

// polkit's CheckAuthorization, abstract so that the helper's tests can stand in
// for the system's authority.
class Authority {
 public:
  virtual ~Authority() = default;
  // Never interactive: nobody at the helper's end could answer a password prompt.
  [[nodiscard]] virtual Decision check(const std::string& actionId, const Subject& subject) = 0;
};

// The authority on the system bus ($DBUS_SYSTEM_BUS_ADDRESS, else the standard
// socket). Each check opens a connection of its own, so checks from several
// threads need no lock, and none waits longer than `timeout`.
class SystemBusAuthority final : public Authority {
 public:
  explicit SystemBusAuthority(std::chrono::milliseconds timeout = std::chrono::seconds(5))
      : timeout_(timeout) {}

  [[nodiscard]] Decision check(const std::string& actionId, const Subject& subject) override;

 private:
  std::chrono::milliseconds timeout_;
};

}  // namespace zephro::polkit

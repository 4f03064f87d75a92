#include "platform/polkit/LocalSessions.h"

#include <systemd/sd-login.h>

namespace zephro::polkit {

bool hasActiveSession(uid_t uid) {
  return sd_uid_get_seats(uid, 1, nullptr) > 0;
}

}  // namespace zephro::polkit

#pragma once

#include <sys/types.h>

namespace zephro::polkit {

// Whether the user has the active session on some seat: the person at the machine,
// whom polkit's default ("allow_active") authorizes. Read from logind's state files,
// so it costs no bus call; false where there is no logind.
[[nodiscard]] bool hasActiveSession(uid_t uid);

}  // namespace zephro::polkit

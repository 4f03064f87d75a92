#pragma once

#include <memory>

#include "app/shell/TrayEntry.h"

namespace zephro {

// The tray entry this desktop supports: our own StatusNotifierItem where a watcher runs,
// an XEmbed icon (QSystemTrayIcon) where only an XEmbed tray exists, and with neither the
// StatusNotifierItem all the same, which a panel started later will show. Nothing without
// a session bus or any tray. Waits briefly for the session bus to say whether a watcher is
// there.
[[nodiscard]] std::unique_ptr<TrayEntry> makeDesktopTray();

}  // namespace zephro

#pragma once

#include <memory>

#include "app/shell/TrayEntry.h"

namespace zephro {

// The tray entry this desktop supports: our own StatusNotifierItem where a watcher
// runs, else an XEmbed icon (QSystemTrayIcon) where a system tray exists, else none.
// Waits briefly for the session bus to say whether a watcher is there.
[[nodiscard]] std::unique_ptr<TrayEntry> makeDesktopTray();

}  // namespace zephro

#pragma once

#include <QDBusConnection>
#include <functional>
#include <memory>

#include "app/shell/TrayEntry.h"

namespace zephro {

// The tray entry this desktop supports: our own StatusNotifierItem where a watcher runs,
// however long it takes to answer, an XEmbed icon (QSystemTrayIcon) where only an XEmbed
// tray exists, and with neither the StatusNotifierItem all the same, which a panel started
// later will show. Nothing without a session bus or any tray. Waits briefly for the
// watcher's answer.
[[nodiscard]] std::unique_ptr<TrayEntry> makeDesktopTray();

// The same on `bus`, with `xembedTrayAvailable` telling whether an XEmbed tray is there.
[[nodiscard]] std::unique_ptr<TrayEntry> makeDesktopTrayOn(
    const QDBusConnection& bus, const std::function<bool()>& xembedTrayAvailable);

}  // namespace zephro

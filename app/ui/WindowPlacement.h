#pragma once

class QQuickWindow;
class QWindow;

namespace zephro {

// Shows the window on every virtual desktop, where the window system has desktops a
// client can name (X11 with an EWMH window manager). Call it before each showing: a
// closed window loses its native window, and with it the request.
void showOnEveryDesktop(QWindow& window);

// True when a compositor blends windows, so a translucent window shows what lies behind.
[[nodiscard]] bool desktopComposites();

// A floating panel: titled "Zephro" for the task switcher but without a title bar, above
// other windows, and translucent where the desktop composites (the window colour stands
// behind the view where it does not).
void makeFloatingPanel(QQuickWindow& window);

// Places the window in the middle of its screen's available area. Wayland lets no
// client place its windows; there the compositor decides.
void centreOnScreen(QWindow& window);

}  // namespace zephro

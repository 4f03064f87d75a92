#pragma once

class QWindow;

namespace zephro {

// Shows the window on every virtual desktop, where the window system has desktops a
// client can name (X11 with an EWMH window manager). Call it before each showing: a
// closed window loses its native window, and with it the request.
void showOnEveryDesktop(QWindow& window);

// Places the window in the middle of its screen's available area. Wayland lets no
// client place its windows; there the compositor decides.
void centreOnScreen(QWindow& window);

}  // namespace zephro

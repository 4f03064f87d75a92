#include "app/ui/WindowPlacement.h"

#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>
#include <QGuiApplication>
#include <QPalette>
#include <QQuickWindow>
#include <QScreen>
#include <QSurfaceFormat>
#include <QWindow>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace zephro {
namespace {

// _NET_WM_DESKTOP's value for "all desktops".
constexpr std::uint32_t kAllDesktops = 0xFFFFFFFF;

xcb_connection_t* x11Connection() {
  const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  return x11 ? x11->connection() : nullptr;
}

xcb_atom_t atomNamed(xcb_connection_t* connection, const char* name) {
  const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
      xcb_intern_atom_reply(
          connection,
          xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name),
          nullptr),
      &std::free);
  return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}

}  // namespace

// Wayland always composites; on X11 a compositor owns the _NET_WM_CM_S<screen> selection.
bool desktopComposites() {
  if (QGuiApplication::platformName() == QLatin1String("wayland")) return true;
  xcb_connection_t* connection = x11Connection();
  if (!connection) return false;
  const xcb_atom_t selection = atomNamed(connection, "_NET_WM_CM_S0");
  if (selection == XCB_ATOM_NONE) return false;
  const std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&std::free)> owner(
      xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, selection),
                                    nullptr),
      &std::free);
  return owner && owner->owner != XCB_WINDOW_NONE;
}

void makeFloatingPanel(QQuickWindow& window) {
  window.setTitle(QStringLiteral("Zephro"));
  // No title bar: the view draws its own close button and is dragged by its background.
  window.setFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
  if (desktopComposites()) {
    QSurfaceFormat format = window.format();
    format.setAlphaBufferSize(8);
    window.setFormat(format);
    window.setColor(Qt::transparent);
  } else {
    window.setColor(QGuiApplication::palette().color(QPalette::Window));
  }
}

void showOnEveryDesktop(QWindow& window) {
  xcb_connection_t* connection = x11Connection();
  if (!connection) return;
  const xcb_atom_t desktop = atomNamed(connection, "_NET_WM_DESKTOP");
  if (desktop == XCB_ATOM_NONE) return;
  // The window manager reads the property when the window is mapped.
  const auto id = static_cast<xcb_window_t>(window.winId());
  xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, desktop, XCB_ATOM_CARDINAL, 32, 1,
                      &kAllDesktops);
  xcb_flush(connection);
}

void centreOnScreen(QWindow& window) {
  const QScreen* screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  const QRect area = screen->availableGeometry();
  window.setPosition(area.center() - QPoint(window.width() / 2, window.height() / 2));
}

}  // namespace zephro

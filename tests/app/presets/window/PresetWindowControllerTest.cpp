#include "app/presets/window/PresetWindowController.h"

#include <gtest/gtest.h>

#include <QtGui/qguiapplication_platform.h>
#include <QtQml/qqmlextensionplugin.h>
#include <xcb/xcb.h>
#include <QGuiApplication>
#include <QQmlEngine>
#include <QQuickItem>
#include <QScreen>
#include <cstdlib>
#include <memory>
#include <optional>

#include "app/presets/PresetStore.h"
#include "app/presets/window/PresetEditor.h"
#include "tests/app/core/TaskRunner.h"
#include "tests/app/ui/popover/PopoverFixture.h"

Q_IMPORT_QML_PLUGIN(Zephro_PresetsPlugin)

namespace zephro {
namespace {

using testing::PopoverFixture;
using testing::spinUntil;

// The window's _NET_WM_DESKTOP as the X server holds it; nothing off X11.
std::optional<std::uint32_t> desktopOf(const QWindow& window) {
  const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  if (!x11) return std::nullopt;
  xcb_connection_t* connection = x11->connection();
  const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> atom(
      xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 1, 15, "_NET_WM_DESKTOP"),
                            nullptr),
      &std::free);
  if (!atom) return std::nullopt;
  const std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> property(
      xcb_get_property_reply(
          connection,
          xcb_get_property(connection, 0, static_cast<xcb_window_t>(window.winId()), atom->atom,
                           XCB_ATOM_CARDINAL, 0, 1),
          nullptr),
      &std::free);
  if (!property || xcb_get_property_value_length(property.get()) != 4) return std::nullopt;
  return *static_cast<const std::uint32_t*>(xcb_get_property_value(property.get()));
}

struct Window {
  Window() { engine.addImportPath(QStringLiteral("qrc:/qt/qml")); }

  [[nodiscard]] PresetEditor* editor() const {
    return controller.content()->property("editor").value<PresetEditor*>();
  }

  PopoverFixture fixture;
  QQmlEngine engine;
  PresetWindowController controller{engine};
};

// Every showing brings the same content forward, with the draft it held, in the middle of the
// screen and asked onto every desktop; closing the window saves nothing.
TEST(PresetWindowController, EveryShowingFloatsTheSameContentOnEveryDesktop) {
  Window window;
  window.fixture.addPreset(QStringLiteral("Quiet"), 35);
  QQuickView& view = window.controller.window();
  EXPECT_TRUE(view.flags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_FALSE(view.flags().testFlag(Qt::WindowMinimizeButtonHint));
  ASSERT_TRUE(window.controller.show(*window.fixture.viewModel()));
  QQuickItem* const content = window.controller.content();
  PresetEditor* const editor = window.editor();
  ASSERT_NE(editor, nullptr);
  editor->startNew(QStringLiteral("New Preset"));
  editor->setEditingName(QStringLiteral("Draft"));

  for (int showing = 0; showing < 3; ++showing) {
    SCOPED_TRACE(showing);
    EXPECT_TRUE(spinUntil([&] { return view.isExposed(); }));
    const QPoint middle = view.screen()->availableGeometry().center();
    EXPECT_LE((view.geometry().center() - middle).manhattanLength(), 2);
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
      EXPECT_EQ(desktopOf(view), 0xFFFFFFFFU) << "not asked onto every desktop";
    }
    EXPECT_EQ(window.controller.content(), content);
    EXPECT_EQ(window.editor(), editor);
    EXPECT_TRUE(editor->isCreatingNew());
    EXPECT_EQ(editor->editingName(), "Draft");
    // The second showing comes after a close, the third while the window is shown.
    if (showing == 0) {
      view.close();
      EXPECT_TRUE(spinUntil([&] { return !view.isVisible(); }));
    }
    ASSERT_TRUE(window.controller.show(*window.fixture.viewModel()));
  }
  EXPECT_EQ(window.fixture.viewModel()->presetStore().presets().size(), 1);
}

}  // namespace
}  // namespace zephro

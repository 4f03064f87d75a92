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

TEST(PresetWindowController, FloatsInTheMiddleOfTheScreenOnEveryDesktop) {
  Window window;
  const QQuickView& view = window.controller.window();
  EXPECT_TRUE(view.flags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(view.flags().testFlag(Qt::WindowCloseButtonHint));
  EXPECT_FALSE(view.flags().testFlag(Qt::WindowMinimizeButtonHint));
  EXPECT_FALSE(window.controller.isContentViewSet());

  ASSERT_TRUE(window.controller.show(*window.fixture.viewModel()));
  EXPECT_TRUE(spinUntil([&] { return view.isExposed(); }));
  EXPECT_TRUE(window.controller.isContentViewSet());
  const QPoint middle = view.screen()->availableGeometry().center();
  EXPECT_LE((view.geometry().center() - middle).manhattanLength(), 2);
  if (QGuiApplication::platformName() == QLatin1String("xcb")) {
    EXPECT_EQ(desktopOf(view), 0xFFFFFFFFU) << "not asked onto every desktop";
  }
}

TEST(PresetWindowController, ShowingAgainBringsTheSameContentForward) {
  Window window;
  window.fixture.addPreset(QStringLiteral("Quiet"), 35);
  QQuickView& view = window.controller.window();
  ASSERT_TRUE(window.controller.show(*window.fixture.viewModel()));
  QQuickItem* const content = window.controller.content();
  ASSERT_NE(content, nullptr);
  PresetEditor* editor = window.editor();
  ASSERT_NE(editor, nullptr);
  editor->startNew(QStringLiteral("New Preset"));
  editor->setEditingName(QStringLiteral("Draft"));
  view.close();
  EXPECT_TRUE(spinUntil([&] { return !view.isVisible(); }));

  for (int showing = 0; showing < 2; ++showing) {
    ASSERT_TRUE(window.controller.show(*window.fixture.viewModel()));
    EXPECT_TRUE(spinUntil([&] { return view.isExposed(); }));
    EXPECT_EQ(window.controller.content(), content);
    EXPECT_EQ(window.editor(), editor);
    EXPECT_TRUE(editor->isCreatingNew());
    EXPECT_EQ(editor->editingName(), "Draft");
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
      EXPECT_EQ(desktopOf(view), 0xFFFFFFFFU) << "showing " << showing;
    }
  }
  EXPECT_EQ(window.fixture.viewModel()->presetStore().presets().size(), 1);
}

}  // namespace
}  // namespace zephro

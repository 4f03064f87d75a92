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

std::optional<std::uint32_t> desktopOf(const QWindow& window) {
  xcb_connection_t* x = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
  const auto owned = [](auto* reply) {
    return std::unique_ptr<std::remove_pointer_t<decltype(reply)>, decltype(&std::free)>(
        reply, &std::free);
  };
  const auto atom =
      owned(xcb_intern_atom_reply(x, xcb_intern_atom(x, 1, 15, "_NET_WM_DESKTOP"), nullptr));
  const auto property = owned(xcb_get_property_reply(
      x, xcb_get_property(x, 0, window.winId(), atom->atom, XCB_ATOM_CARDINAL, 0, 1), nullptr));
  if (!property || xcb_get_property_value_length(property.get()) != 4) return std::nullopt;
  return *static_cast<const std::uint32_t*>(xcb_get_property_value(property.get()));
}

// Each showing keeps the content and its draft, centred; closing the window saves nothing.
TEST(PresetWindowController, EveryShowingFloatsTheSameContentOnEveryDesktop) {
  testing::PopoverFixture fixture;
  QQmlEngine engine;
  engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
  PresetWindowController controller{engine};
  const auto editorShown = [&] {
    return controller.content()->property("editor").value<PresetEditor*>();
  };
  fixture.addPreset(QStringLiteral("Quiet"), 35);
  QQuickView& view = controller.window();
  EXPECT_EQ(view.flags() & (Qt::WindowStaysOnTopHint | Qt::WindowMinimizeButtonHint),
            Qt::WindowStaysOnTopHint);
  ASSERT_TRUE(controller.show(*fixture.viewModel()));
  QQuickItem* const content = controller.content();
  PresetEditor* const editor = editorShown();
  ASSERT_NE(editor, nullptr);
  editor->startNew(QStringLiteral("New Preset"));
  editor->setEditingName(QStringLiteral("Draft"));

  for (int showing = 0; showing < 3; ++showing) {
    SCOPED_TRACE(showing);
    EXPECT_TRUE(testing::spinUntil([&] { return view.isExposed(); }));
    const QPoint middle = view.screen()->availableGeometry().center();
    EXPECT_LE((view.geometry().center() - middle).manhattanLength(), 2);
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
      EXPECT_EQ(desktopOf(view), 0xFFFFFFFFU) << "not asked onto every desktop";
    }
    EXPECT_EQ(std::pair(controller.content(), editorShown()), std::pair(content, editor));
    EXPECT_EQ(std::pair(editor->isCreatingNew(), editor->editingName()),
              std::pair(true, QString("Draft")));
    // The second showing comes after a close, the third while the window is shown.
    if (showing == 0) {
      view.close();
      EXPECT_TRUE(testing::spinUntil([&] { return !view.isVisible(); }));
    }
    ASSERT_TRUE(controller.show(*fixture.viewModel()));
  }
  EXPECT_EQ(fixture.viewModel()->presetStore().presets().size(), 1);
}

}  // namespace
}  // namespace zephro

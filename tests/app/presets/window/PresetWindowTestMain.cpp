// The preset manager's Qt Quick tests: the real QML module over a real view model and
// preset store (see PopoverFixture), on the offscreen platform with the software renderer.
#include <QtQml/qqmlextensionplugin.h>
#include <QtQuickTest/quicktest.h>

#include "tests/support/QuickTestSetup.h"

Q_IMPORT_QML_PLUGIN(Zephro_PresetsPlugin)
Q_IMPORT_QML_PLUGIN(Zephro_PopoverTestPlugin)
Q_IMPORT_QML_PLUGIN(Zephro_PresetsTestPlugin)

QUICK_TEST_MAIN_WITH_SETUP(presets, zephro::testing::QuickTestSetup)

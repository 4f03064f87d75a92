// The popover's Qt Quick tests: the real QML module over a real view model (see
// PopoverFixture), on the offscreen platform with the software renderer.
#include <QtQml/qqmlextensionplugin.h>
#include <QtQuickTest/quicktest.h>

#include "tests/support/QuickTestSetup.h"

Q_IMPORT_QML_PLUGIN(Zephro_PopoverPlugin)
Q_IMPORT_QML_PLUGIN(Zephro_PopoverTestPlugin)

QUICK_TEST_MAIN_WITH_SETUP(popover, zephro::testing::QuickTestSetup)

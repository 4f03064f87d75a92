// The Qt Quick tests of the popover, the onboarding, the About view and (with -input) the
// preset manager over real QML modules and view model; each tst_*.qml file gets its own engine.
#include <QtQml/qqmlextensionplugin.h>
#include <QtQuickTest/quicktest.h>

#include "tests/support/QuickTestSetup.h"

Q_IMPORT_QML_PLUGIN(Zephro_PopoverPlugin)
Q_IMPORT_QML_PLUGIN(Zephro_PopoverTestPlugin)
Q_IMPORT_QML_PLUGIN(Zephro_OnboardingPlugin)
Q_IMPORT_QML_PLUGIN(Zephro_AboutPlugin)
Q_IMPORT_QML_PLUGIN(Zephro_PresetsPlugin)

QUICK_TEST_MAIN_WITH_SETUP(ui, zephro::testing::QuickTestSetup)

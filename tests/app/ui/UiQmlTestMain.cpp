// Real QML modules and view model (the preset manager with -input); one engine per tst_*.qml.
#include <QtQml/qqmlextensionplugin.h>
#include <QtQuickTest/quicktest.h>

#include "tests/support/QuickTestSetup.h"

Q_IMPORT_QML_PLUGIN(Zephro_PopoverPlugin)
Q_IMPORT_QML_PLUGIN(Zephro_PopoverTestPlugin)
Q_IMPORT_QML_PLUGIN(Zephro_OnboardingPlugin)
Q_IMPORT_QML_PLUGIN(Zephro_AboutPlugin)
Q_IMPORT_QML_PLUGIN(Zephro_PresetsPlugin)

QUICK_TEST_MAIN_WITH_SETUP(ui, zephro::testing::QuickTestSetup)

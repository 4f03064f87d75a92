// The Qt Quick tests of the popover, the onboarding, the About view and (with -input) the
// preset manager: the real QML modules over a real view model (see PopoverFixture) and the
// application's own clips, on the offscreen platform with the software renderer. Each
// tst_*.qml file gets an engine of its own, so the shared singletons outlive several engines
// in one run.
#include <QtQml/qqmlextensionplugin.h>
#include <QtQuickTest/quicktest.h>

#include "tests/support/QuickTestSetup.h"

Q_IMPORT_QML_PLUGIN(Zephro_PopoverPlugin)
Q_IMPORT_QML_PLUGIN(Zephro_PopoverTestPlugin)
Q_IMPORT_QML_PLUGIN(Zephro_OnboardingPlugin)
Q_IMPORT_QML_PLUGIN(Zephro_AboutPlugin)
Q_IMPORT_QML_PLUGIN(Zephro_PresetsPlugin)

QUICK_TEST_MAIN_WITH_SETUP(ui, zephro::testing::QuickTestSetup)

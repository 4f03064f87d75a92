// The onboarding and About views' Qt Quick tests, over the real QML modules and the
// application's own clips.
#include <QtQml/qqmlextensionplugin.h>
#include <QtQuickTest/quicktest.h>

#include "tests/support/QuickTestSetup.h"

Q_IMPORT_QML_PLUGIN(Zephro_OnboardingPlugin)
Q_IMPORT_QML_PLUGIN(Zephro_AboutPlugin)

QUICK_TEST_MAIN_WITH_SETUP(onboarding, zephro::testing::QuickTestSetup)

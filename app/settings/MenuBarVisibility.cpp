#include "app/settings/MenuBarVisibility.h"

#include "platform/defaults/DefaultsKeys.h"
#include "platform/defaults/UserDefaults.h"

namespace zephro {

bool isMenuBarTextVisible(const UserDefaults& defaults) {
  return defaults.value(defaults::showRPMInMenuBar) || defaults.value(defaults::showTempInMenuBar);
}

void ensureMenuBarIconVisible(UserDefaults& defaults) {
  if (isMenuBarTextVisible(defaults)) return;
  defaults.setBool(QLatin1StringView(defaults::showIconInMenuBar.name), true);
}

}  // namespace zephro

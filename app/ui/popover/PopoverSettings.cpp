#include "app/ui/popover/PopoverSettings.h"

#include "app/settings/AppearanceMode.h"
#include "app/settings/LaunchAtLogin.h"
#include "platform/defaults/DefaultsKeys.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/servicemanager/ServiceManager.h"

namespace zephro {
namespace {

QString keyOf(const defaults::BoolKey& key) {
  return QString::fromLatin1(key.name);
}

}  // namespace

PopoverSettings::PopoverSettings(UserDefaults& defaults, ServiceManager& serviceManager,
                                 QObject* parent)
    : QObject(parent),
      defaults_(defaults),
      serviceManager_(serviceManager),
      launchAtLogin_(isLaunchAtLoginEnabled(serviceManager)) {
  connect(&defaults_, &UserDefaults::valueChanged, this, &PopoverSettings::announce);
}

void PopoverSettings::announce(const QString& key) {
  const auto is = [&key](const auto& declared) { return key == QLatin1String(declared.name); };
  if (is(defaults::showRPMInMenuBar)) emit showRPMInMenuBarChanged();
  if (is(defaults::showTempInMenuBar)) emit showTempInMenuBarChanged();
  if (is(defaults::showIconInMenuBar)) emit showIconInMenuBarChanged();
  if (is(defaults::useFahrenheit)) emit useFahrenheitChanged();
  if (is(defaults::fineTuneManualOverride)) emit fineTuneManualOverrideChanged();
  if (is(defaults::showModeSymbols)) emit showModeSymbolsChanged();
  if (is(defaults::disableLiquidGlass)) emit disableLiquidGlassChanged();
  if (is(defaults::appearanceMode)) emit appearanceModeChanged();
}

bool PopoverSettings::showRPMInMenuBar() const {
  return defaults_.value(defaults::showRPMInMenuBar);
}
void PopoverSettings::setShowRPMInMenuBar(bool on) {
  defaults_.setBool(keyOf(defaults::showRPMInMenuBar), on);
}

bool PopoverSettings::showTempInMenuBar() const {
  return defaults_.value(defaults::showTempInMenuBar);
}
void PopoverSettings::setShowTempInMenuBar(bool on) {
  defaults_.setBool(keyOf(defaults::showTempInMenuBar), on);
}

bool PopoverSettings::showIconInMenuBar() const {
  return defaults_.value(defaults::showIconInMenuBar);
}
void PopoverSettings::setShowIconInMenuBar(bool on) {
  defaults_.setBool(keyOf(defaults::showIconInMenuBar), on);
}

bool PopoverSettings::useFahrenheit() const {
  return defaults_.value(defaults::useFahrenheit);
}
void PopoverSettings::setUseFahrenheit(bool on) {
  defaults_.setBool(keyOf(defaults::useFahrenheit), on);
}

bool PopoverSettings::fineTuneManualOverride() const {
  return defaults_.value(defaults::fineTuneManualOverride);
}
void PopoverSettings::setFineTuneManualOverride(bool on) {
  defaults_.setBool(keyOf(defaults::fineTuneManualOverride), on);
}

bool PopoverSettings::showModeSymbols() const {
  return defaults_.value(defaults::showModeSymbols);
}
void PopoverSettings::setShowModeSymbols(bool on) {
  defaults_.setBool(keyOf(defaults::showModeSymbols), on);
}

bool PopoverSettings::disableLiquidGlass() const {
  return defaults_.value(defaults::disableLiquidGlass);
}
void PopoverSettings::setDisableLiquidGlass(bool on) {
  defaults_.setBool(keyOf(defaults::disableLiquidGlass), on);
}

QString PopoverSettings::appearanceMode() const {
  return rawValue(currentAppearanceMode(defaults_));
}
void PopoverSettings::setAppearanceMode(const QString& raw) {
  defaults_.setString(QString::fromLatin1(defaults::appearanceMode.name),
                      rawValue(appearanceModeFromRaw(raw)));
}

void PopoverSettings::setLaunchAtLogin(bool enabled) {
  zephro::setLaunchAtLogin(serviceManager_, enabled);
  reloadLaunchAtLogin();
}

void PopoverSettings::reloadLaunchAtLogin() {
  const bool enabled = isLaunchAtLoginEnabled(serviceManager_);
  if (enabled == launchAtLogin_) return;
  launchAtLogin_ = enabled;
  emit launchAtLoginChanged();
}

void PopoverSettings::openLoginItems() {
  serviceManager_.openSystemSettingsLoginItems();
}

}  // namespace zephro

#pragma once

#include <QtQml/qqmlregistration.h>
#include <QObject>
#include <QString>

namespace zephro {

class ServiceManager;
class UserDefaults;

// The display and behaviour options the popover shows and edits, read from and written
// to the user defaults directly, so the status item and the view model see a change the
// moment it is made. Launch at login is the login item's real status, read from the
// service manager, never a stored value. Main thread only.
class PopoverSettings : public QObject {
  Q_OBJECT
  QML_ELEMENT
  QML_UNCREATABLE("The application hands the popover its settings.")

  /// The status item shows the highest fan speed.
  Q_PROPERTY(bool showRPMInMenuBar READ showRPMInMenuBar WRITE setShowRPMInMenuBar NOTIFY
                 showRPMInMenuBarChanged)
  /// The status item shows the system temperature.
  Q_PROPERTY(bool showTempInMenuBar READ showTempInMenuBar WRITE setShowTempInMenuBar NOTIFY
                 showTempInMenuBarChanged)
  /// The stored icon choice; the status item shows the icon anyway while it has no text.
  Q_PROPERTY(bool showIconInMenuBar READ showIconInMenuBar WRITE setShowIconInMenuBar NOTIFY
                 showIconInMenuBarChanged)
  /// Temperatures in degrees Fahrenheit.
  Q_PROPERTY(
      bool useFahrenheit READ useFahrenheit WRITE setUseFahrenheit NOTIFY useFahrenheitChanged)
  /// Manual sliders move in steps of 1 instead of 25.
  Q_PROPERTY(bool fineTuneManualOverride READ fineTuneManualOverride WRITE
                 setFineTuneManualOverride NOTIFY fineTuneManualOverrideChanged)
  /// The mode buttons show their symbols beside the text.
  Q_PROPERTY(bool showModeSymbols READ showModeSymbols WRITE setShowModeSymbols NOTIFY
                 showModeSymbolsChanged)
  /// Solid backgrounds instead of the translucent look.
  Q_PROPERTY(bool disableLiquidGlass READ disableLiquidGlass WRITE setDisableLiquidGlass NOTIFY
                 disableLiquidGlassChanged)
  /// "system", "light" or "dark"; any other stored text reads as "system" and is kept.
  Q_PROPERTY(QString appearanceMode READ appearanceMode WRITE setAppearanceMode NOTIFY
                 appearanceModeChanged)
  /// The login item is enabled. Writing registers or unregisters it; the value read back
  /// is the status the service manager then reports.
  Q_PROPERTY(
      bool launchAtLogin READ launchAtLogin WRITE setLaunchAtLogin NOTIFY launchAtLoginChanged)

 public:
  PopoverSettings(UserDefaults& defaults, ServiceManager& serviceManager,
                  QObject* parent = nullptr);

  [[nodiscard]] bool showRPMInMenuBar() const;
  void setShowRPMInMenuBar(bool on);
  [[nodiscard]] bool showTempInMenuBar() const;
  void setShowTempInMenuBar(bool on);
  [[nodiscard]] bool showIconInMenuBar() const;
  void setShowIconInMenuBar(bool on);
  [[nodiscard]] bool useFahrenheit() const;
  void setUseFahrenheit(bool on);
  [[nodiscard]] bool fineTuneManualOverride() const;
  void setFineTuneManualOverride(bool on);
  [[nodiscard]] bool showModeSymbols() const;
  void setShowModeSymbols(bool on);
  [[nodiscard]] bool disableLiquidGlass() const;
  void setDisableLiquidGlass(bool on);
  [[nodiscard]] QString appearanceMode() const;
  // Stores the raw text of the mode it names; unknown texts are stored as "system".
  void setAppearanceMode(const QString& raw);

  [[nodiscard]] bool launchAtLogin() const { return launchAtLogin_; }
  void setLaunchAtLogin(bool enabled);
  // Reads the login item's status again (it may change outside the application).
  Q_INVOKABLE void reloadLaunchAtLogin();
  // Opens the desktop's settings where the helper and login items are approved.
  Q_INVOKABLE void openLoginItems();

 signals:
  void showRPMInMenuBarChanged();
  void showTempInMenuBarChanged();
  void showIconInMenuBarChanged();
  void useFahrenheitChanged();
  void fineTuneManualOverrideChanged();
  void showModeSymbolsChanged();
  void disableLiquidGlassChanged();
  void appearanceModeChanged();
  void launchAtLoginChanged();

 private:
  void announce(const QString& key);

  UserDefaults& defaults_;
  ServiceManager& serviceManager_;
  bool launchAtLogin_ = false;
};

}  // namespace zephro

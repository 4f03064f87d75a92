#include "app/ui/ReduceMotion.h"

#include <QProcess>
#include <QSettings>
#include <QStandardPaths>

namespace zephro {
namespace {

constexpr int kGsettingsTimeoutMs = 1000;

std::optional<QString> environmentOverride() {
  if (!qEnvironmentVariableIsSet("ZEPHRO_REDUCE_MOTION")) return std::nullopt;
  return qEnvironmentVariable("ZEPHRO_REDUCE_MOTION");
}

std::optional<double> kdeAnimationDurationFactor() {
  const QString file =
      QStandardPaths::locate(QStandardPaths::GenericConfigLocation, QStringLiteral("kdeglobals"));
  if (file.isEmpty()) return std::nullopt;
  const QSettings kdeglobals(file, QSettings::IniFormat);
  const QVariant factor = kdeglobals.value(QStringLiteral("KDE/AnimationDurationFactor"));
  bool ok = false;
  const double value = factor.toDouble(&ok);
  return ok ? std::optional<double>(value) : std::nullopt;
}

std::optional<bool> gnomeEnableAnimations() {
  const QString gsettings = QStandardPaths::findExecutable(QStringLiteral("gsettings"));
  if (gsettings.isEmpty()) return std::nullopt;
  QProcess process;
  process.start(gsettings, {QStringLiteral("get"), QStringLiteral("org.gnome.desktop.interface"),
                            QStringLiteral("enable-animations")});
  if (!process.waitForFinished(kGsettingsTimeoutMs) || process.exitCode() != 0) {
    process.kill();
    process.waitForFinished(kGsettingsTimeoutMs);
    return std::nullopt;
  }
  const QString answer = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
  if (answer == QLatin1String("true")) return true;
  if (answer == QLatin1String("false")) return false;
  return std::nullopt;
}

}  // namespace

bool reducesMotion(const MotionSettings& settings) {
  if (settings.override == QLatin1String("1")) return true;
  if (settings.override == QLatin1String("0")) return false;
  if (settings.kdeAnimationDurationFactor && *settings.kdeAnimationDurationFactor == 0.0) {
    return true;
  }
  return settings.gnomeEnableAnimations == false;
}

MotionSettings desktopMotionSettings() {
  MotionSettings settings;
  settings.override = environmentOverride();
  // An override decides alone; the desktop is not asked.
  if (settings.override == QLatin1String("1") || settings.override == QLatin1String("0")) {
    return settings;
  }
  settings.kdeAnimationDurationFactor = kdeAnimationDurationFactor();
  settings.gnomeEnableAnimations = gnomeEnableAnimations();
  return settings;
}

bool desktopReducesMotion() {
  static const bool reduces = reducesMotion(desktopMotionSettings());
  return reduces;
}

}  // namespace zephro

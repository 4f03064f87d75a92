#include "app/intents/ZephroShortcuts.h"

#include <array>

namespace zephro {
namespace {

constexpr const char* kApplicationName = "Zephro";

struct ShortcutTemplate {
  const char* action;
  const char* shortTitle;
  const char* systemImage;
  std::array<const char*, 4> phrases;
};

// [app] is the application's name, [mode] the set action's mode.
constexpr std::array<ShortcutTemplate, 4> kShortcuts{{
    {"SetFanModeIntent",
     "Set Fan Mode",
     "fan.fill",
     {"[app] on [mode]", "Set [app] to [mode]", "Turn on [mode] in [app]",
      "Switch [app] to [mode]"}},
    {"GetFanStatusIntent",
     "Fan Status",
     "gauge.with.dots.needle.50percent",
     {"[app] status", "Get fan status from [app]", "How fast are my fans in [app]"}},
    {"IncreaseFanSpeedIntent",
     "Increase Speed",
     "arrow.up.circle",
     {"Increase fan speed in [app]", "Turn up the fans in [app]", "[app] faster"}},
    {"DecreaseFanSpeedIntent",
     "Decrease Speed",
     "arrow.down.circle",
     {"Decrease fan speed in [app]", "Turn down the fans in [app]", "[app] slower"}},
}};

QStringList expand(const char* phrase, const QList<FanModeEntity>& modes) {
  QString text = QString::fromUtf8(phrase);
  text.replace(QLatin1String("[app]"), QLatin1String(kApplicationName));
  if (!text.contains(QLatin1String("[mode]"))) return {text};
  QStringList phrases;
  for (const auto& mode : modes) phrases.append(QString(text).replace("[mode]", mode.name));
  return phrases;
}

}  // namespace

QList<AppShortcut> ZephroShortcuts::appShortcuts(const QList<FanModeEntity>& modes) {
  QList<AppShortcut> shortcuts;
  for (const auto& shortcut : kShortcuts) {
    AppShortcut made{QString::fromLatin1(shortcut.action),
                     QString::fromLatin1(shortcut.shortTitle),
                     QString::fromLatin1(shortcut.systemImage),
                     {}};
    for (const char* phrase : shortcut.phrases) {
      if (phrase != nullptr) made.phrases.append(expand(phrase, modes));
    }
    shortcuts.append(std::move(made));
  }
  return shortcuts;
}

QDBusArgument& operator<<(QDBusArgument& argument, const AppShortcut& shortcut) {
  argument.beginStructure();
  argument << shortcut.action << shortcut.shortTitle << shortcut.systemImage << shortcut.phrases;
  argument.endStructure();
  return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, AppShortcut& shortcut) {
  argument.beginStructure();
  argument >> shortcut.action >> shortcut.shortTitle >> shortcut.systemImage >> shortcut.phrases;
  argument.endStructure();
  return argument;
}

}  // namespace zephro

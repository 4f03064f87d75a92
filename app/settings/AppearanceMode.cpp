#include "app/settings/AppearanceMode.h"

#include <QGuiApplication>

#include "platform/defaults/DefaultsKeys.h"
#include "platform/defaults/UserDefaults.h"

namespace zephro {

QString rawValue(AppearanceMode mode) {
  switch (mode) {
    case AppearanceMode::light:
      return QStringLiteral("light");
    case AppearanceMode::dark:
      return QStringLiteral("dark");
    case AppearanceMode::system:
      break;
  }
  return QStringLiteral("system");
}

AppearanceMode appearanceModeFromRaw(const QString& raw) {
  for (const AppearanceMode mode : allAppearanceModes) {
    if (rawValue(mode) == raw) return mode;
  }
  return AppearanceMode::system;
}

AppearanceMode currentAppearanceMode(const UserDefaults& defaults) {
  return appearanceModeFromRaw(defaults.value(defaults::appearanceMode));
}

std::optional<Appearance> applicationAppearance(AppearanceMode mode) {
  switch (mode) {
    case AppearanceMode::light:
      return Appearance::light;
    case AppearanceMode::dark:
      return Appearance::dark;
    case AppearanceMode::system:
      break;
  }
  return std::nullopt;
}

Appearance popoverAppearance(AppearanceMode mode, Appearance effective) {
  return applicationAppearance(mode).value_or(effective);
}

Appearance appearanceOfPalette(const QPalette& palette) {
  const int window = palette.color(QPalette::Active, QPalette::Window).lightness();
  const int text = palette.color(QPalette::Active, QPalette::WindowText).lightness();
  return window < text ? Appearance::dark : Appearance::light;
}

namespace {

struct Colours {
  QColor window, windowText, base, alternateBase, text, button, buttonText, highlight,
      highlightedText, disabledText, light, mid, dark, shadow, link, toolTipBase, toolTipText,
      placeholderText;
};

QPalette paletteFrom(const Colours& c) {
  QPalette palette;
  for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    const bool disabled = group == QPalette::Disabled;
    palette.setColor(group, QPalette::Window, c.window);
    palette.setColor(group, QPalette::WindowText, disabled ? c.disabledText : c.windowText);
    palette.setColor(group, QPalette::Base, c.base);
    palette.setColor(group, QPalette::AlternateBase, c.alternateBase);
    palette.setColor(group, QPalette::Text, disabled ? c.disabledText : c.text);
    palette.setColor(group, QPalette::Button, c.button);
    palette.setColor(group, QPalette::ButtonText, disabled ? c.disabledText : c.buttonText);
    palette.setColor(group, QPalette::BrightText, Qt::white);
    palette.setColor(group, QPalette::Highlight, disabled ? c.mid : c.highlight);
    palette.setColor(group, QPalette::HighlightedText, c.highlightedText);
    palette.setColor(group, QPalette::Light, c.light);
    palette.setColor(group, QPalette::Midlight, c.light);
    palette.setColor(group, QPalette::Mid, c.mid);
    palette.setColor(group, QPalette::Dark, c.dark);
    palette.setColor(group, QPalette::Shadow, c.shadow);
    palette.setColor(group, QPalette::Link, c.link);
    palette.setColor(group, QPalette::LinkVisited, c.link.darker(120));
    palette.setColor(group, QPalette::ToolTipBase, c.toolTipBase);
    palette.setColor(group, QPalette::ToolTipText, c.toolTipText);
    palette.setColor(group, QPalette::PlaceholderText, c.placeholderText);
  }
  return palette;
}

}  // namespace

QPalette paletteFor(Appearance appearance) {
  if (appearance == Appearance::dark) {
    return paletteFrom({.window = QColor(0x1e, 0x1e, 0x1e),
                        .windowText = QColor(0xf2, 0xf2, 0xf2),
                        .base = QColor(0x2a, 0x2a, 0x2a),
                        .alternateBase = QColor(0x32, 0x32, 0x32),
                        .text = QColor(0xf2, 0xf2, 0xf2),
                        .button = QColor(0x3a, 0x3a, 0x3a),
                        .buttonText = QColor(0xf2, 0xf2, 0xf2),
                        .highlight = QColor(0x0a, 0x84, 0xff),
                        .highlightedText = Qt::white,
                        .disabledText = QColor(0x80, 0x80, 0x80),
                        .light = QColor(0x50, 0x50, 0x50),
                        .mid = QColor(0x46, 0x46, 0x46),
                        .dark = QColor(0x14, 0x14, 0x14),
                        .shadow = Qt::black,
                        .link = QColor(0x41, 0x9c, 0xff),
                        .toolTipBase = QColor(0x3a, 0x3a, 0x3a),
                        .toolTipText = QColor(0xf2, 0xf2, 0xf2),
                        .placeholderText = QColor(0x8c, 0x8c, 0x8c)});
  }
  return paletteFrom({.window = QColor(0xec, 0xec, 0xec),
                      .windowText = QColor(0x1d, 0x1d, 0x1f),
                      .base = Qt::white,
                      .alternateBase = QColor(0xf5, 0xf5, 0xf5),
                      .text = QColor(0x1d, 0x1d, 0x1f),
                      .button = QColor(0xfa, 0xfa, 0xfa),
                      .buttonText = QColor(0x1d, 0x1d, 0x1f),
                      .highlight = QColor(0x00, 0x7a, 0xff),
                      .highlightedText = Qt::white,
                      .disabledText = QColor(0xa0, 0xa0, 0xa0),
                      .light = Qt::white,
                      .mid = QColor(0xb8, 0xb8, 0xb8),
                      .dark = QColor(0x9a, 0x9a, 0x9a),
                      .shadow = QColor(0x60, 0x60, 0x60),
                      .link = QColor(0x00, 0x66, 0xcc),
                      .toolTipBase = QColor(0xff, 0xff, 0xe1),
                      .toolTipText = Qt::black,
                      .placeholderText = QColor(0x8e, 0x8e, 0x93)});
}

void applyApplicationAppearance(AppearanceMode mode) {
  if (const auto appearance = applicationAppearance(mode)) {
    QGuiApplication::setPalette(paletteFor(*appearance));
  } else {
    // A palette with no roles set hands every role back to the platform theme.
    QPalette desktop;
    desktop.setResolveMask(0);
    QGuiApplication::setPalette(desktop);
  }
}

Appearance effectiveApplicationAppearance() {
  return appearanceOfPalette(QGuiApplication::palette());
}

}  // namespace zephro

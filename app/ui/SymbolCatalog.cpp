#include "app/ui/SymbolCatalog.h"

#include <QFontDatabase>
#include <QJSEngine>
#include <QQmlEngine>
#include <QVariantMap>
#include <algorithm>

namespace zephro {

namespace {

constexpr auto mi = IconFont::materialIcons;
constexpr auto mdi = IconFont::materialDesignIcons;

// Name → glyph, by where the name is used. The comment names the glyph in its font's own
// codepoint list, so a reader can check the choice against the font. The fonts draw filled
// shapes only, so a name and its ".fill" twin share one glyph; where neither font has the
// object itself, the nearest picture stands in (noted beside it).
constexpr std::array kTable{
    // The status item, the popover's header and presets without an icon.
    SymbolGlyph{"fan.fill", mdi, 0xf210},  // fan
    // The popover's connection states.
    SymbolGlyph{"checkmark.shield", mi, 0xe8e8},       // verified_user
    SymbolGlyph{"cable.connector.slash", mi, 0xe4fa},  // usb_off
    SymbolGlyph{"laptopcomputer", mi, 0xe320},         // laptop_mac
    SymbolGlyph{"fan.slash", mi, 0xec17},              // mode_fan_off
    SymbolGlyph{"lock.fill", mi, 0xe897},              // lock
    // The popover's disclosures, language list and mode buttons.
    SymbolGlyph{"chevron.right", mi, 0xe5cc},                // chevron_right
    SymbolGlyph{"largecircle.fill.circle", mi, 0xe837},      // radio_button_checked
    SymbolGlyph{"circle", mi, 0xe836},                       // radio_button_unchecked
    SymbolGlyph{"arrow.triangle.2.circlepath", mi, 0xe627},  // sync
    SymbolGlyph{"hand.tap", mi, 0xe913},                     // touch_app
    SymbolGlyph{"wind", mi, 0xefd8},                         // air
    // The preset manager's buttons and messages.
    SymbolGlyph{"plus", mi, 0xe145},                         // add
    SymbolGlyph{"minus", mi, 0xe15b},                        // remove
    SymbolGlyph{"trash", mi, 0xe872},                        // delete
    SymbolGlyph{"face.smiling", mi, 0xe813},                 // sentiment_satisfied
    SymbolGlyph{"exclamationmark.circle.fill", mi, 0xe000},  // error
    SymbolGlyph{"chevron.up", mi, 0xe5ce},                   // expand_less
    SymbolGlyph{"chevron.down", mi, 0xe5cf},                 // expand_more
    // The feedback window's close button and status line.
    SymbolGlyph{"xmark", mi, 0xe5cd},                          // close
    SymbolGlyph{"checkmark.circle.fill", mi, 0xe86c},          // check_circle
    SymbolGlyph{"exclamationmark.triangle.fill", mi, 0xe002},  // warning
    // The automation shortcuts' images.
    SymbolGlyph{"arrow.up.circle", mi, 0xf182},    // arrow_circle_up
    SymbolGlyph{"arrow.down.circle", mi, 0xf181},  // arrow_circle_down

    // The icon chooser's symbols not listed above. Airflow:
    SymbolGlyph{"fan.slash.fill", mi, 0xec17},         // mode_fan_off
    SymbolGlyph{"fan.desk", mi, 0xec0c},               // wind_power: a fan on a stand
    SymbolGlyph{"fan.desk.fill", mi, 0xec0c},          // wind_power
    SymbolGlyph{"fan.ceiling", mi, 0xf10e},            // hvac: a ceiling vent's fan
    SymbolGlyph{"fan.ceiling.fill", mi, 0xf10e},       // hvac
    SymbolGlyph{"fan.floor", mi, 0xec18},              // heat_pump: a box fan
    SymbolGlyph{"fan.floor.fill", mi, 0xec18},         // heat_pump
    SymbolGlyph{"fan.oscillation", mi, 0xebd5},        // cyclone: air in motion
    SymbolGlyph{"fan.oscillation.fill", mi, 0xebd5},   // cyclone
    SymbolGlyph{"wind.snow", mi, 0xe810},              // cloudy_snowing
    SymbolGlyph{"snowflake", mi, 0xeb3b},              // ac_unit
    SymbolGlyph{"thermometer.sun", mi, 0xf076},        // thermostat
    SymbolGlyph{"thermometer.snowflake", mi, 0xebd3},  // severe_cold
    SymbolGlyph{"flame", mi, 0xe80e},                  // whatshot
    // Devices:
    SymbolGlyph{"desktopcomputer", mi, 0xe30b},                    // desktop_mac
    SymbolGlyph{"display", mi, 0xef5b},                            // monitor
    SymbolGlyph{"macpro.gen1", mdi, 0xf1c5},                       // desktop-tower
    SymbolGlyph{"macpro.gen2", mi, 0xec13},                        // propane_tank: a cylinder
    SymbolGlyph{"macpro.gen3", mi, 0xeb47},                        // kitchen: a tall case
    SymbolGlyph{"macmini", mi, 0xe3c0},                            // crop_7_5: a flat box
    SymbolGlyph{"macstudio", mi, 0xe3c6},                          // crop_square: a square box
    SymbolGlyph{"cpu", mi, 0xe322},                                // memory: a chip
    SymbolGlyph{"memorychip", mdi, 0xf61a},                        // chip
    SymbolGlyph{"internaldrive", mdi, 0xf2ca},                     // harddisk
    SymbolGlyph{"externaldrive", mi, 0xe1c2},                      // sd_storage
    SymbolGlyph{"powerplug", mi, 0xe63c},                          // power
    SymbolGlyph{"battery.100percent", mi, 0xe1a4},                 // battery_full
    SymbolGlyph{"bolt.fill", mi, 0xea0b},                          // bolt
    SymbolGlyph{"gauge.with.dots.needle.50percent", mdi, 0xf29a},  // gauge
    // People:
    SymbolGlyph{"person.fill", mi, 0xe7fd},           // person
    SymbolGlyph{"person.2.fill", mi, 0xe7fb},         // people
    SymbolGlyph{"person.crop.circle", mi, 0xe853},    // account_circle
    SymbolGlyph{"figure.stand", mi, 0xe4eb},          // man
    SymbolGlyph{"figure.walk", mi, 0xe536},           // directions_walk
    SymbolGlyph{"figure.run", mi, 0xe566},            // directions_run
    SymbolGlyph{"figure.cooldown", mi, 0xea78},       // self_improvement
    SymbolGlyph{"figure.core.training", mi, 0xebc4},  // sports_gymnastics
    SymbolGlyph{"eye.fill", mi, 0xe8f4},              // visibility
    SymbolGlyph{"eyes", mdi, 0xf208},                 // eye
    SymbolGlyph{"ear.fill", mi, 0xe023},              // hearing
    SymbolGlyph{"hand.raised.fill", mi, 0xe764},      // back_hand
    SymbolGlyph{"hand.thumbsup.fill", mi, 0xe8dc},    // thumb_up
    SymbolGlyph{"hand.thumbsdown.fill", mi, 0xe8db},  // thumb_down
    SymbolGlyph{"hand.tap.fill", mi, 0xe913},         // touch_app
    // Objects:
    SymbolGlyph{"headphones", mi, 0xf01f},           // headphones
    SymbolGlyph{"speaker.wave.3.fill", mi, 0xe050},  // volume_up
    SymbolGlyph{"music.note", mi, 0xe405},           // music_note
    SymbolGlyph{"music.note.list", mi, 0xe03d},      // queue_music
    SymbolGlyph{"gamecontroller.fill", mi, 0xea28},  // sports_esports
    SymbolGlyph{"keyboard", mi, 0xe312},             // keyboard
    SymbolGlyph{"sparkles", mi, 0xe65f},             // auto_awesome
    SymbolGlyph{"wand.and.stars", mi, 0xe663},       // auto_fix_high
    SymbolGlyph{"slider.horizontal.3", mi, 0xe429},  // tune
    SymbolGlyph{"dial.low", mi, 0xebdf},             // signal_cellular_alt_1_bar: one level
    SymbolGlyph{"dial.medium", mi, 0xebe3},          // signal_cellular_alt_2_bar: two levels
    SymbolGlyph{"dial.high", mi, 0xe202},            // signal_cellular_alt: three levels
    SymbolGlyph{"speedometer", mdi, 0xf4c5},         // speedometer
    SymbolGlyph{"timer", mi, 0xe01b},                // av_timer
    SymbolGlyph{"stopwatch.fill", mi, 0xe425},       // timer: a stopwatch
};

// The icon chooser's catalogue: four sections, 64 symbols in all.
constexpr std::array<std::string_view, 17> kAirflow{
    "fan.fill",       "fan.slash",       "fan.slash.fill",       "fan.desk",
    "fan.desk.fill",  "fan.ceiling",     "fan.ceiling.fill",     "fan.floor",
    "fan.floor.fill", "fan.oscillation", "fan.oscillation.fill", "wind",
    "wind.snow",      "snowflake",       "thermometer.sun",      "thermometer.snowflake",
    "flame",
};
constexpr std::array<std::string_view, 16> kDevices{
    "laptopcomputer",
    "desktopcomputer",
    "display",
    "macpro.gen1",
    "macpro.gen2",
    "macpro.gen3",
    "macmini",
    "macstudio",
    "cpu",
    "memorychip",
    "internaldrive",
    "externaldrive",
    "powerplug",
    "battery.100percent",
    "bolt.fill",
    "gauge.with.dots.needle.50percent",
};
constexpr std::array<std::string_view, 16> kPeople{
    "person.fill",
    "person.2.fill",
    "person.crop.circle",
    "figure.stand",
    "figure.walk",
    "figure.run",
    "figure.cooldown",
    "figure.core.training",
    "face.smiling",
    "eye.fill",
    "eyes",
    "ear.fill",
    "hand.raised.fill",
    "hand.thumbsup.fill",
    "hand.thumbsdown.fill",
    "hand.tap.fill",
};
constexpr std::array<std::string_view, 15> kObjects{
    "headphones",
    "speaker.wave.3.fill",
    "music.note",
    "music.note.list",
    "gamecontroller.fill",
    "keyboard",
    "sparkles",
    "wand.and.stars",
    "slider.horizontal.3",
    "dial.low",
    "dial.medium",
    "dial.high",
    "speedometer",
    "timer",
    "stopwatch.fill",
};
constexpr std::array kSections{
    SymbolSection{"Airflow", kAirflow},
    SymbolSection{"Devices", kDevices},
    SymbolSection{"People", kPeople},
    SymbolSection{"Objects", kObjects},
};

// The bundled font files, in IconFont order.
constexpr std::array kFontFiles{
    ":/zephro/fonts/MaterialIcons-Regular.ttf",
    ":/zephro/fonts/materialdesignicons-webfont.ttf",
};

QString fromView(std::string_view text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

std::size_t indexOf(IconFont font) {
  return static_cast<std::size_t>(font);
}

}  // namespace

SymbolCatalog::SymbolCatalog(QObject* parent) : QObject(parent) {
  for (std::size_t i = 0; i < kFontFiles.size(); ++i) {
    const int id = QFontDatabase::addApplicationFont(QString::fromLatin1(kFontFiles.at(i)));
    families_.at(i) = QFontDatabase::applicationFontFamilies(id).value(0);
  }
}

SymbolCatalog& SymbolCatalog::shared() {
  static SymbolCatalog instance;
  return instance;
}

SymbolCatalog* SymbolCatalog::create(QQmlEngine*, QJSEngine*) {
  SymbolCatalog& instance = shared();
  QJSEngine::setObjectOwnership(&instance, QJSEngine::CppOwnership);
  return &instance;
}

std::span<const SymbolGlyph> SymbolCatalog::table() {
  return kTable;
}

std::span<const SymbolSection> SymbolCatalog::pickerSections() {
  return kSections;
}

std::optional<SymbolGlyph> SymbolCatalog::find(QStringView name) {
  const auto entry = std::find_if(kTable.begin(), kTable.end(), [name](const SymbolGlyph& glyph) {
    return name == QLatin1StringView(glyph.name.data(), static_cast<qsizetype>(glyph.name.size()));
  });
  if (entry == kTable.end()) return std::nullopt;
  return *entry;
}

bool SymbolCatalog::contains(const QString& name) const {
  return find(name).has_value();
}

QString SymbolCatalog::glyph(const QString& name) const {
  const auto entry = find(name);
  return entry ? text(entry->codepoint) : QString();
}

QString SymbolCatalog::fontFamily(const QString& name) const {
  const auto entry = find(name);
  return entry ? family(entry->font) : QString();
}

QString SymbolCatalog::family(IconFont font) const {
  return families_.at(indexOf(font));
}

QFont SymbolCatalog::font(QStringView name, int pixelSize) const {
  const auto entry = find(name);
  if (!entry) return {};
  QFont result(family(entry->font));
  result.setPixelSize(pixelSize);
  // A missing glyph should show as missing, not as a letter from some other font.
  result.setStyleStrategy(QFont::NoFontMerging);
  return result;
}

QStringList SymbolCatalog::names() const {
  QStringList result;
  result.reserve(static_cast<qsizetype>(kTable.size()));
  for (const SymbolGlyph& entry : kTable) result.append(fromView(entry.name));
  return result;
}

QVariantList SymbolCatalog::pickerSectionList() const {
  QVariantList result;
  for (const SymbolSection& section : kSections) {
    QStringList symbols;
    for (const std::string_view name : section.symbols) symbols.append(fromView(name));
    result.append(QVariantMap{{QStringLiteral("id"), fromView(section.id)},
                              {QStringLiteral("symbols"), symbols}});
  }
  return result;
}

QString SymbolCatalog::text(char32_t codepoint) {
  return QString::fromUcs4(&codepoint, 1);
}

}  // namespace zephro

#include "app/ui/SymbolCatalog.h"

#include <QFile>
#include <QFontDatabase>
#include <QJSEngine>
#include <QPainter>
#include <QQmlEngine>
#include <QTransform>
#include <QVariantMap>
#include <algorithm>

namespace zephro {

namespace {

constexpr auto mi = IconFont::materialIcons;
constexpr auto mdi = IconFont::materialDesignIcons;

constexpr char32_t kFan = 0xf210;  // Material Design Icons' fan

// The drawings below are in the fonts' 24-unit design square, with the fonts' line weight
// of about 2 units, so that they sit among the glyphs as one family.

// A fan cut through by a slash; the blades stop short of it.
void slashedFan(SymbolSketch& sketch, bool filled) {
  const QPainterPath blades = sketch.glyph(mdi, kFan);
  if (filled) {
    sketch.add(blades);
  } else {
    sketch.outline(blades, 1.6);
  }
  const QPainterPath slash = polyline({{3.5, 3.5}, {20.5, 20.5}});
  sketch.cutLine(slash, 5.5);
  sketch.line(slash, 2);
}

// A fan's head: blades in a round guard. Filled, the guard is a disc the blades show through.
void fanHead(SymbolSketch& sketch, QPointF centre, double radius, bool filled) {
  // The fan glyph's blades reach 10 of its 24 units from the middle.
  const double bladeReach = radius - (filled ? 1.4 : 2.6);
  const double side = bladeReach * 2.4;
  const QPainterPath blades =
      sketch.glyph(mdi, kFan, QRectF(centre.x() - side / 2, centre.y() - side / 2, side, side));
  if (filled) {
    sketch.add(circle(centre.x(), centre.y(), radius));
    sketch.cut(blades);
  } else {
    sketch.line(circle(centre.x(), centre.y(), radius - 0.8), 1.6);
    sketch.add(blades);
  }
}

// A fan on a short neck and a flat foot.
void deskFan(SymbolSketch& sketch, bool filled) {
  fanHead(sketch, {12, 9.5}, 8, filled);
  sketch.line(polyline({{12, 17.5}, {12, 20.5}}), 2.2);
  sketch.add(box(6.5, 20, 11, 2.6, 1.3));
}

// A smaller fan high on a pole standing on three legs.
void floorFan(SymbolSketch& sketch, bool filled) {
  fanHead(sketch, {12, 7.5}, 6.5, filled);
  sketch.line(polyline({{12, 14}, {12, 20}}), 1.8);
  sketch.line(polyline({{6.5, 22}, {12, 19.5}, {17.5, 22}}), 1.8);
}

// Seen from the side: a rod from the ceiling, the motor with a light bowl under it, and two
// broad blades.
void ceilingFan(SymbolSketch& sketch, bool filled) {
  sketch.add(box(8.8, 2, 6.4, 2, 0.8));
  sketch.line(polyline({{12, 3.5}, {12, 8.5}}), 1.8);
  QPainterPath bowl;
  bowl.moveTo(7.6, 13.5);
  bowl.arcTo(QRectF(7.6, 9.1, 8.8, 8.8), 180, 180);
  bowl.closeSubpath();
  QPainterPath body = box(6.6, 8, 10.8, 6.4, 2.6);
  body.addPath(bowl);
  body.addPath(polygon({{7.4, 9.8}, {1, 11.2}, {1, 14.4}, {7.4, 13.6}}));
  body.addPath(polygon({{16.6, 9.8}, {23, 11.2}, {23, 14.4}, {16.6, 13.6}}));
  body.setFillRule(Qt::WindingFill);
  if (filled) {
    sketch.add(body);
    // The seam between motor and light.
    sketch.cutLine(polyline({{8.4, 14.4}, {15.6, 14.4}}), 0.9);
  } else {
    sketch.outline(body, 1.4);
  }
}

// Air swept from side to side: a fan in its guard over a curved arrow with a head at both
// ends.
void oscillatingFan(SymbolSketch& sketch, bool filled) {
  fanHead(sketch, {12, 8.6}, 7, filled);
  const QPointF centre(12, 1);
  constexpr double radius = 19.5;
  sketch.line(arc(centre, radius, 247, 46), 1.7);
  for (const double end : {-1.0, 1.0}) {
    const QPointF tip = polar(centre, radius, 270 + end * 31);
    const QPointF back = polar(centre, radius, 270 + end * 21);
    const QPointF across((tip.y() - back.y()) * 0.6, (back.x() - tip.x()) * 0.6);
    sketch.add(polygon({tip, back + across, back - across}));
  }
}

// A thermometer at the left with a sign of what it measures at the top right.
void thermometerWith(SymbolSketch& sketch, char32_t sign) {
  sketch.add(sketch.glyph(mi, 0xe1ff, QRectF(-4.5, 0.5, 23, 23)));  // device_thermostat
  const QRectF signBox(10.5, 0.5, 13.5, 13.5);
  sketch.cut(ellipse(signBox.center().x(), signBox.center().y(), 7.2, 7.2));
  sketch.add(sketch.glyph(mi, sign, signBox));
}

// The third Mac Pro: a tall case on four feet, its frame rising into handles at the top
// corners, its front a lattice of round holes.
void latticeTower(SymbolSketch& sketch) {
  sketch.line(polyline({{6.4, 5}, {6.4, 2.3}, {9, 2.3}}), 1.6);
  sketch.line(polyline({{17.6, 5}, {17.6, 2.3}, {15, 2.3}}), 1.6);
  sketch.add(box(5.5, 4, 13, 17.2, 1.8));
  sketch.add(box(6.2, 20.5, 2.2, 1.8, 0.5));
  sketch.add(box(15.6, 20.5, 2.2, 1.8, 0.5));
  for (int row = 0; row < 5; ++row) {
    for (int column = 0; column < 3; ++column) {
      sketch.cut(circle(9 + 3 * column, 7.3 + 3 * row, 0.95));
    }
  }
}

// The second Mac Pro: a cylinder, its round vent open at the top.
void cylinderTower(SymbolSketch& sketch) {
  QPainterPath body = box(6.5, 4, 11, 16);
  body.addPath(ellipse(12, 4, 5.5, 1.8));
  body.addPath(ellipse(12, 20, 5.5, 1.8));
  body.setFillRule(Qt::WindingFill);
  sketch.add(body);
  sketch.cut(ellipse(12, 4.2, 3.9, 0.9));
  sketch.cutLine(arc({12, 4.3}, 5.5, 200, 140), 0.9);
}

// A low square box, seen from the front and a little above: its top, then its thin front
// with the status light.
void lowBox(SymbolSketch& sketch) {
  sketch.add(box(2.5, 7.8, 19, 5.2, 2.2));
  sketch.add(box(2.5, 13.6, 19, 3, 1.2));
  sketch.cut(circle(18.7, 15.1, 0.65));
}

// A taller box of the same footprint, with ports and a card slot on its front.
void tallBox(SymbolSketch& sketch) {
  sketch.add(box(3, 4.6, 18, 4.2, 2));
  sketch.add(box(3, 9.4, 18, 10, 1.8));
  sketch.cut(box(6.2, 13.2, 1.3, 3.4, 0.65));
  sketch.cut(box(8.8, 13.2, 1.3, 3.4, 0.65));
  sketch.cut(box(12.2, 14.3, 5, 1.2, 0.6));
}

// A memory module: a board with three chips and a row of contacts split by its key notch.
void memoryModule(SymbolSketch& sketch) {
  sketch.add(box(2, 6, 20, 9.5, 1));
  for (const double x : {4.0, 10.0, 16.0}) sketch.cut(box(x, 8.2, 4, 4.4, 0.5));
  for (const double x : {3.5, 5.5, 7.5, 9.5, 14.5, 16.5, 18.5, 20.5}) {
    sketch.line(polyline({{x, 15}, {x, 18}}), 1.1);
  }
}

// A drive in its own case, lying flat: a slit and its light on the front.
void driveCase(SymbolSketch& sketch) {
  sketch.add(box(2, 7, 20, 10, 2.5));
  sketch.cutLine(polyline({{5, 13.2}, {13, 13.2}}), 1.3);
  sketch.cut(circle(18, 13.2, 1));
}

// A battery lying down, charged to the end.
void fullBattery(SymbolSketch& sketch) {
  sketch.outline(box(1.5, 6.5, 18.5, 11, 2.8), 1.6);
  sketch.add(box(4, 9, 13.5, 6, 1));
  sketch.add(box(20.6, 9.8, 1.9, 4.4, 0.9));
}

// A round gauge with dots along its scale and the needle halfway, straight up.
void dottedGauge(SymbolSketch& sketch) {
  const QPointF centre(12, 12);
  sketch.outline(circle(12, 12, 10.2), 1.7);
  for (int step = 0; step < 7; ++step) {
    if (step == 3) continue;
    sketch.add(circle(polar(centre, 6.8, 210 - 40 * step).x(),
                      polar(centre, 6.8, 210 - 40 * step).y(), 0.95));
  }
  sketch.line(polyline({centre, polar(centre, 6.6, 90)}), 1.8);
  sketch.add(circle(12, 12, 1.9));
}

// A knob inside its scale, an open ring, the knob's mark pointing at the setting: the
// scale's low end, its middle or its high end.
void dial(SymbolSketch& sketch, double degrees) {
  const QPointF centre(12, 12.6);
  sketch.line(arc(centre, 10, 225, -270), 1.6);
  sketch.add(circle(centre.x(), centre.y(), 6.6));
  sketch.cutLine(polyline({polar(centre, 1.4, degrees), polar(centre, 4.6, degrees)}), 2);
  // The scale's end points, so that low and high read at a glance.
  for (const double end : {225.0, -45.0}) {
    const QPointF at = polar(centre, 10, end);
    sketch.add(circle(at.x(), at.y(), 1.5));
  }
}

// A stopwatch, filled, its hand cut out of the face.
void stopwatch(SymbolSketch& sketch) {
  const QPointF centre(12, 13.5);
  sketch.add(circle(centre.x(), centre.y(), 8.3));
  sketch.add(box(9.5, 1.5, 5, 2, 0.8));
  sketch.line(polyline({{12, 3}, {12, 5.5}}), 2);
  sketch.line(polyline({polar(centre, 8.5, 45), polar(centre, 10.2, 45)}), 2);
  sketch.cutLine(polyline({centre, polar(centre, 5.5, 60)}), 1.8);
  sketch.cut(circle(centre.x(), centre.y(), 1.5));
}

// Two cartoon eyes side by side, looking down and to the right.
void pairOfEyes(SymbolSketch& sketch) {
  for (const double x : {7.0, 17.0}) {
    sketch.outline(ellipse(x, 12, 4.4, 8), 1.6);
    sketch.add(circle(x + 1, 14.4, 2.3));
  }
}

constexpr SymbolGlyph fontGlyph(std::string_view name, IconFont font, char32_t codepoint) {
  return {name, SymbolForm::glyph, font, codepoint, nullptr};
}

constexpr SymbolGlyph outlined(std::string_view name, IconFont font, char32_t codepoint) {
  return {name, SymbolForm::outlinedGlyph, font, codepoint, nullptr};
}

constexpr SymbolGlyph drawn(std::string_view name, SymbolDrawing draw) {
  return {name, SymbolForm::drawing, mi, 0, draw};
}

// Name → picture, by where the name is used. A glyph's comment names it in its font's own
// codepoint list, so a reader can check the choice against the font. A plain name and its
// ".fill" twin are one picture, outlined and filled.
constexpr std::array kTable{
    // The status item, the popover's header and presets without an icon.
    fontGlyph("fan.fill", mdi, kFan),  // fan
    // The popover's connection states.
    fontGlyph("checkmark.shield", mi, 0xe8e8),       // verified_user
    fontGlyph("cable.connector.slash", mi, 0xe4fa),  // usb_off
    fontGlyph("laptopcomputer", mi, 0xe320),         // laptop_mac
    drawn("fan.slash", [](SymbolSketch& sketch) { slashedFan(sketch, false); }),
    fontGlyph("lock.fill", mi, 0xe897),  // lock
    // The popover's disclosures, language list and mode buttons.
    fontGlyph("chevron.right", mi, 0xe5cc),                // chevron_right
    fontGlyph("largecircle.fill.circle", mi, 0xe837),      // radio_button_checked
    fontGlyph("circle", mi, 0xe836),                       // radio_button_unchecked
    fontGlyph("arrow.triangle.2.circlepath", mi, 0xe627),  // sync
    outlined("hand.tap", mi, 0xe913),                      // touch_app
    fontGlyph("wind", mi, 0xefd8),                         // air
    // The preset manager's buttons and messages.
    fontGlyph("plus", mi, 0xe145),                         // add
    fontGlyph("minus", mi, 0xe15b),                        // remove
    fontGlyph("trash", mi, 0xe872),                        // delete
    fontGlyph("face.smiling", mi, 0xe813),                 // sentiment_satisfied
    fontGlyph("exclamationmark.circle.fill", mi, 0xe000),  // error
    fontGlyph("chevron.up", mi, 0xe5ce),                   // expand_less
    fontGlyph("chevron.down", mi, 0xe5cf),                 // expand_more
    // The feedback window's close button and status line.
    fontGlyph("xmark", mi, 0xe5cd),                          // close
    fontGlyph("checkmark.circle.fill", mi, 0xe86c),          // check_circle
    fontGlyph("exclamationmark.triangle.fill", mi, 0xe002),  // warning
    // The automation shortcuts' images.
    fontGlyph("arrow.up.circle", mi, 0xf182),    // arrow_circle_up
    fontGlyph("arrow.down.circle", mi, 0xf181),  // arrow_circle_down

    // The icon chooser's symbols not listed above. Airflow:
    drawn("fan.slash.fill", [](SymbolSketch& sketch) { slashedFan(sketch, true); }),
    drawn("fan.desk", [](SymbolSketch& sketch) { deskFan(sketch, false); }),
    drawn("fan.desk.fill", [](SymbolSketch& sketch) { deskFan(sketch, true); }),
    drawn("fan.ceiling", [](SymbolSketch& sketch) { ceilingFan(sketch, false); }),
    drawn("fan.ceiling.fill", [](SymbolSketch& sketch) { ceilingFan(sketch, true); }),
    drawn("fan.floor", [](SymbolSketch& sketch) { floorFan(sketch, false); }),
    drawn("fan.floor.fill", [](SymbolSketch& sketch) { floorFan(sketch, true); }),
    drawn("fan.oscillation", [](SymbolSketch& sketch) { oscillatingFan(sketch, false); }),
    drawn("fan.oscillation.fill", [](SymbolSketch& sketch) { oscillatingFan(sketch, true); }),
    drawn("wind.snow",
          [](SymbolSketch& sketch) {
            sketch.add(sketch.glyph(mi, 0xefd8, QRectF(-0.5, 0, 18, 18)));  // air
            sketch.cut(circle(17.5, 17, 7));
            sketch.add(sketch.glyph(mi, 0xeb3b, QRectF(11, 10.5, 13, 13)));  // ac_unit
          }),
    fontGlyph("snowflake", mi, 0xeb3b),  // ac_unit
    drawn("thermometer.sun",
          [](SymbolSketch& sketch) { thermometerWith(sketch, 0xe430); }),  // wb_sunny
    drawn("thermometer.snowflake",
          [](SymbolSketch& sketch) { thermometerWith(sketch, 0xeb3b); }),  // ac_unit
    fontGlyph("flame", mi, 0xe80e),                                        // whatshot
    // Devices:
    fontGlyph("desktopcomputer", mi, 0xe30b),  // desktop_mac
    fontGlyph("display", mi, 0xef5b),          // monitor
    fontGlyph("macpro.gen1", mdi, 0xf1c5),     // desktop-tower
    drawn("macpro.gen2", cylinderTower),
    drawn("macpro.gen3", latticeTower),
    drawn("macmini", lowBox),
    drawn("macstudio", tallBox),
    fontGlyph("cpu", mi, 0xe322),  // memory: a chip with its pins
    drawn("memorychip", memoryModule),
    fontGlyph("internaldrive", mdi, 0xf2ca),  // harddisk
    drawn("externaldrive", driveCase),
    fontGlyph("powerplug", mi, 0xe63c),  // power
    drawn("battery.100percent", fullBattery),
    fontGlyph("bolt.fill", mi, 0xea0b),  // bolt
    drawn("gauge.with.dots.needle.50percent", dottedGauge),
    // People:
    fontGlyph("person.fill", mi, 0xe7fd),           // person
    fontGlyph("person.2.fill", mi, 0xe7fb),         // people
    fontGlyph("person.crop.circle", mi, 0xe853),    // account_circle
    fontGlyph("figure.stand", mi, 0xe4eb),          // man
    fontGlyph("figure.walk", mi, 0xe536),           // directions_walk
    fontGlyph("figure.run", mi, 0xe566),            // directions_run
    fontGlyph("figure.cooldown", mi, 0xea78),       // self_improvement
    fontGlyph("figure.core.training", mi, 0xebc4),  // sports_gymnastics
    fontGlyph("eye.fill", mi, 0xe8f4),              // visibility
    drawn("eyes", pairOfEyes),
    fontGlyph("ear.fill", mi, 0xe023),              // hearing
    fontGlyph("hand.raised.fill", mi, 0xe764),      // back_hand
    fontGlyph("hand.thumbsup.fill", mi, 0xe8dc),    // thumb_up
    fontGlyph("hand.thumbsdown.fill", mi, 0xe8db),  // thumb_down
    fontGlyph("hand.tap.fill", mi, 0xe913),         // touch_app
    // Objects:
    fontGlyph("headphones", mi, 0xf01f),           // headphones
    fontGlyph("speaker.wave.3.fill", mi, 0xe050),  // volume_up
    fontGlyph("music.note", mi, 0xe405),           // music_note
    fontGlyph("music.note.list", mi, 0xe03d),      // queue_music
    fontGlyph("gamecontroller.fill", mi, 0xea28),  // sports_esports
    fontGlyph("keyboard", mi, 0xe312),             // keyboard
    fontGlyph("sparkles", mi, 0xe65f),             // auto_awesome
    fontGlyph("wand.and.stars", mi, 0xe663),       // auto_fix_high
    fontGlyph("slider.horizontal.3", mi, 0xe429),  // tune
    drawn("dial.low", [](SymbolSketch& sketch) { dial(sketch, 225); }),
    drawn("dial.medium", [](SymbolSketch& sketch) { dial(sketch, 90); }),
    drawn("dial.high", [](SymbolSketch& sketch) { dial(sketch, -45); }),
    fontGlyph("speedometer", mdi, 0xf4c5),  // speedometer
    fontGlyph("timer", mi, 0xe01b),         // av_timer
    drawn("stopwatch.fill", stopwatch),
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

// The size the sketches load the fonts at, and the design square they draw in.
constexpr double kSketchEm = 480;
constexpr double kDesignSize = 24;

std::size_t indexOf(IconFont font) {
  return static_cast<std::size_t>(font);
}

}  // namespace

SymbolCatalog::SymbolCatalog(QObject* parent) : QObject(parent) {
  for (std::size_t i = 0; i < kFontFiles.size(); ++i) {
    const QString file = QString::fromLatin1(kFontFiles.at(i));
    const int id = QFontDatabase::addApplicationFont(file);
    families_.at(i) = QFontDatabase::applicationFontFamilies(id).value(0);
    QFile data(file);
    if (data.open(QIODevice::ReadOnly))
      faces_.at(i).loadFromData(data.readAll(), kSketchEm, QFont::PreferNoHinting);
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
  const auto entry = std::find_if(kTable.begin(), kTable.end(), [name](const SymbolGlyph& entry) {
    return name == QLatin1StringView(entry.name.data(), static_cast<qsizetype>(entry.name.size()));
  });
  if (entry == kTable.end()) return std::nullopt;
  return *entry;
}

bool SymbolCatalog::contains(const QString& name) const {
  return find(name).has_value();
}

QPainterPath SymbolCatalog::path(QStringView name) const {
  const auto entry = find(name);
  if (!entry) return {};
  const QString key = name.toString();
  if (const auto drawn = pictures_.constFind(key); drawn != pictures_.cend()) return *drawn;
  SymbolSketch sketch(faces_);
  switch (entry->form) {
    case SymbolForm::glyph:
      sketch.add(sketch.glyph(entry->font, entry->codepoint));
      break;
    case SymbolForm::outlinedGlyph:
      sketch.outline(sketch.glyph(entry->font, entry->codepoint), 1.6);
      break;
    case SymbolForm::drawing:
      entry->draw(sketch);
      break;
  }
  return *pictures_.insert(key, sketch.picture());
}

void SymbolCatalog::paint(QPainter& painter, QStringView name, const QRectF& box,
                          const QColor& colour) const {
  const double scale = std::min(box.width(), box.height()) / kDesignSize;
  QTransform transform;
  transform.translate(box.center().x(), box.center().y());
  transform.scale(scale, scale);
  transform.translate(-kDesignSize / 2, -kDesignSize / 2);
  const QPainterPath picture = transform.map(path(name));
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.fillPath(picture, colour);
  painter.restore();
}

QString SymbolCatalog::glyph(const QString& name) const {
  const auto entry = find(name);
  return entry && entry->form == SymbolForm::glyph ? text(entry->codepoint) : QString();
}

QString SymbolCatalog::family(IconFont font) const {
  return families_.at(indexOf(font));
}

QFont SymbolCatalog::font(QStringView name, int pixelSize) const {
  const auto entry = find(name);
  if (!entry || entry->form != SymbolForm::glyph) return {};
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

#include "app/shell/StatusPicture.h"

#include <gtest/gtest.h>
#include <QRect>

#include "app/ui/SymbolCatalog.h"

namespace zephro {
namespace {

FanInfoDTO fan(double rpm) {
  return {0, rpm, 1200, 6000, FanMode::system};
}

StatusReading reading(bool temperature, bool rpm, bool icon) {
  StatusReading result;
  result.showTemperature = temperature;
  result.showRPM = rpm;
  result.showIcon = icon;
  result.celsius = 51.5;
  result.fans = {fan(1800.2), fan(2200.9)};
  return result;
}

// The smallest rectangle, in device pixels, that holds every pixel with any ink.
QRect inkBounds(const QImage& image) {
  QRect bounds;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if (qAlpha(image.pixel(x, y)) != 0) bounds |= QRect(x, y, 1, 1);
    }
  }
  return bounds;
}

StatusPicture draw(const StatusReading& reading, double devicePixelRatio = 1,
                   const QColor& color = Qt::black) {
  return drawStatusPicture(reading, color, devicePixelRatio, SymbolCatalog::shared());
}

TEST(StatusPictureTest, EachDisplayCaseHasItsSizeTextAndIcon) {
  const struct {
    const char* shows;
    StatusReading reading;
    QSize size;
    const char* text;
    double fontSize;
    bool icon;
  } cases[] = {
      {"nothing: the icon alone, even when switched off",
       reading(false, false, false),
       {22, 22},
       "",
       0,
       true},
      {"temperature", reading(true, false, false), {36, 22}, "52°C", 11, false},
      {"temperature and icon", reading(true, false, true), {36 + 18 + 4, 22}, "52°C", 11, true},
      {"speed", reading(false, true, false), {60, 22}, "2200 RPM", 11, false},
      {"speed and icon", reading(false, true, true), {60 + 18 + 4, 22}, "2200 RPM", 11, true},
      {"both, temperature on top",
       reading(true, true, false),
       {54, 22},
       "52°C\n2200 RPM",
       9.5,
       false},
      {"both and icon", reading(true, true, true), {54 + 18 + 4, 22}, "52°C\n2200 RPM", 9.5, true},
  };
  for (const auto& c : cases) {
    const StatusLayout layout = layoutStatusPicture(c.reading);
    EXPECT_EQ(layout.iconShown, c.icon) << c.shows;
    EXPECT_EQ(layout.fontSize, c.fontSize) << c.shows;

    const StatusPicture normal = draw(c.reading, 1);
    const StatusPicture doubled = draw(c.reading, 2);
    EXPECT_EQ(normal.text, QString::fromUtf8(c.text)) << c.shows;
    EXPECT_EQ(doubled.text, normal.text) << c.shows;
    EXPECT_EQ(normal.image.size(), c.size) << c.shows;
    EXPECT_EQ(doubled.image.size(), c.size * 2) << c.shows;
    EXPECT_EQ(doubled.image.deviceIndependentSize(), QSizeF(c.size)) << c.shows;
    EXPECT_FALSE(inkBounds(normal.image).isEmpty()) << c.shows;
  }
}

TEST(StatusPictureTest, NumbersAreWrittenAsTheItemShowsThem) {
  const struct {
    double celsius;
    bool fahrenheit;
    const char* text;
  } temperatures[] = {
      {51.5, false, "52°C"}, {51.49, false, "51°C"}, {-0.5, false, "-1°C"},
      {20, true, "68°F"},    {37.5, true, "100°F"},  {-40, true, "-40°F"},
  };
  for (const auto& t : temperatures) {
    StatusReading shown = reading(true, false, false);
    shown.celsius = t.celsius;
    shown.useFahrenheit = t.fahrenheit;
    EXPECT_EQ(layoutStatusPicture(shown).text, QString::fromUtf8(t.text)) << t.celsius;
  }

  StatusReading speed = reading(false, true, false);
  speed.fans = {fan(999.99), fan(2200.9), fan(2200.1)};
  EXPECT_EQ(layoutStatusPicture(speed).text, "2200 RPM");
  speed.fans.clear();
  EXPECT_EQ(layoutStatusPicture(speed).text, "0 RPM");
}

TEST(StatusPictureTest, TheContentIsCentredAndTemplateColoured) {
  const QColor colour(40, 120, 200);
  // The temperature alone, at 2x: its ink sits in the middle, in the colour asked for.
  const QImage temperature = draw(reading(true, false, false), 2, colour).image;
  const QRect ink = inkBounds(temperature);
  EXPECT_NEAR(ink.left(), temperature.width() - 1 - ink.right(), 4);
  for (int y = 0; y < temperature.height(); ++y) {
    for (int x = 0; x < temperature.width(); ++x) {
      const QColor pixel = QColor::fromRgba(temperature.pixel(x, y));
      if (pixel.alpha() < 255) continue;  // edges blend with the transparent background
      ASSERT_EQ(pixel.rgb(), colour.rgb()) << x << "," << y;
    }
  }

  // The icon alone sits in the middle of its square.
  const QRect icon = inkBounds(draw(reading(false, false, false)).image);
  EXPECT_NEAR(icon.center().x(), 11, 1);
  EXPECT_NEAR(icon.center().y(), 11, 1);

  // The icon comes first, then the gap, then the text moved right by both: "2200 RPM" is 56
  // wide, so the content starts at (82 - (56 + 18 + 4)) / 2 = 2.
  const QImage withIcon = draw(reading(false, true, true)).image;
  const QImage without = draw(reading(false, true, false)).image;
  EXPECT_FALSE(inkBounds(withIcon.copy(2, 0, 18, 22)).isEmpty()) << "the icon";
  EXPECT_TRUE(inkBounds(withIcon.copy(20, 0, 4, 22)).isEmpty()) << "the gap";
  EXPECT_NEAR(inkBounds(withIcon).right() - inkBounds(without).right(), 18 + 4, 1);

  // Text wider than the picture starts at its left edge rather than before it.
  StatusReading wide = reading(false, true, false);
  wide.fans = {fan(123456)};
  EXPECT_LE(inkBounds(draw(wide).image).left(), 1);
}

}  // namespace
}  // namespace zephro

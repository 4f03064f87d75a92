#include <gtest/gtest.h>

#include "app/intents/FanModeEntity.h"
#include "app/intents/FanStatusEntity.h"
#include "app/intents/ZephroIntentError.h"
#include "app/ui/LocalizationManager.h"
#include "platform/defaults/UserDefaults.h"
#include "tests/support/TempDir.h"

namespace zephro {
namespace {

FanInfoDTO fanAt(double rpm) {
  return {0, rpm, 1000, 6000, FanMode::system};
}

TEST(FanStatusEntity, TruncatesTheSpeedAndRoundsTheTemperatureHalfAwayFromZero) {
  const struct {
    std::vector<FanInfoDTO> fans;
    double celsius;
    bool fahrenheit;
    const char* title;
    const char* temperature;
  } cases[] = {
      {{}, 40.0, false, "0 RPM", "40°C"},
      {{fanAt(1800.7), fanAt(2400.2)}, 56.5, false, "2400 RPM", "57°C"},
      {{fanAt(2999.99)}, 50.0, true, "2999 RPM", "122°F"},
      {{fanAt(1200)}, -0.5, false, "1200 RPM", "-1°C"},
      {{fanAt(1200)}, 0.25, true, "1200 RPM", "32°F"},
  };
  for (const auto& [fans, celsius, fahrenheit, title, temperature] : cases) {
    const auto status = FanStatusEntity::reading(fans, celsius, fahrenheit);
    EXPECT_EQ(
        QStringList({status.id, status.title(), status.temperatureText(), status.temperatureUnit}),
        QStringList({"current", title, temperature, fahrenheit ? "F" : "C"}))
        << celsius;
  }
}

TEST(FanModeEntityQuery, FoldsDiacriticsCaseAndSpace) {
  const struct {
    const char* text;
    const char* folded;
  } cases[] = {
      {"Máx", "max"},
      {"  Nacht-Modus\n", "nacht-modus"},
      {"ÇALIŞKAN", "caliskan"},
      {"", ""},
  };
  for (const auto& [text, folded] : cases) {
    EXPECT_EQ(FanModeEntityQuery::fold(QString::fromUtf8(text), QLocale(QLocale::English)),
              QString::fromUtf8(folded))
        << text;
  }
}

TEST(ZephroIntentError, DescriptionsComeFromTheInterfaceLanguage) {
  const testing::TempDir dir;
  UserDefaults defaults(QString::fromStdString((dir / "settings.json").string()));
  defaults.setString(QStringLiteral("appLanguage"), QStringLiteral("de"));
  const LocalizationManager german(defaults, [] { return QStringList{"en-US"}; });
  const auto notFound = ZephroIntentError::presetNotFound(QStringLiteral("Nacht"));
  EXPECT_EQ(notFound.localizedDescription(german),
            "Die Voreinstellung „Nacht“ gibt es nicht mehr.");
  EXPECT_EQ(ZephroIntentError::helperUnreachable().busErrorName(),
            "com.zephro.Intents1.Error.HelperUnreachable");
}

}  // namespace
}  // namespace zephro

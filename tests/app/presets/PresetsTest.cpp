#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "app/presets/PresetCodec.h"
#include "app/presets/PresetPercentages.h"
#include "app/presets/PresetRules.h"
#include "app/presets/PresetStore.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/log/Log.h"
#include "tests/support/TempDir.h"

namespace zephro {
namespace {

QUuid uuid(const char* text) {
  return QUuid::fromString(QLatin1StringView(text));
}

Preset preset(const char* name, PresetMode mode, std::int64_t value,
              std::optional<QString> symbol = std::nullopt) {
  return {QUuid::createUuid(), name, mode, value, std::move(symbol)};
}

TEST(PresetCodec, EncodesTheStoredFormByteForByteAndReadsWhatOtherWritersMayStore) {
  const QList<Preset> presets{
      {uuid("5c0a3b1e-9f2d-4c6a-8b7e-1d2f3a4b5c6d"), "Quiet", PresetMode::percentage, 30,
       QStringLiteral("fan.fill")},
      {uuid("00000000-0000-0000-0000-0000000000ff"), "Work / \"Play\" \\ 🔥\u00e9", PresetMode::rpm,
       1800, std::nullopt},
      {uuid("abcdef01-2345-6789-abcd-ef0123456789"), QStringLiteral("tab\there\nnul\x01"),
       PresetMode::rpm, -1, QStringLiteral("\U0001F32C\uFE0F")},
  };
  const QByteArray expected =
      "[{\"id\":\"5C0A3B1E-9F2D-4C6A-8B7E-1D2F3A4B5C6D\",\"name\":\"Quiet\","
      "\"mode\":\"percentage\",\"value\":30,\"symbol\":\"fan.fill\"},"
      "{\"id\":\"00000000-0000-0000-0000-0000000000FF\",\"name\":\"Work \\/ \\\"Play\\\" \\\\ "
      "\xF0\x9F\x94\xA5\xC3\xA9\",\"mode\":\"rpm\",\"value\":1800},"
      "{\"id\":\"ABCDEF01-2345-6789-ABCD-EF0123456789\",\"name\":\"tab\\there\\nnul\\u0001\","
      "\"mode\":\"rpm\",\"value\":-1,\"symbol\":\"\xF0\x9F\x8C\xAC\xEF\xB8\x8F\"}]";
  EXPECT_EQ(encodePresets(presets), expected);

  const DecodedPresets decoded = decodePresets(expected);
  EXPECT_TRUE(decoded.isComplete());
  EXPECT_EQ(decoded.presets, presets);

  // Lower-case ids, no or null symbol, extra keys, whitespace, a float that is whole.
  const DecodedPresets foreign = decodePresets(R"( [
    {"id": "5c0a3b1e-9f2d-4c6a-8b7e-1d2f3a4b5c6d", "name": "A", "mode": "rpm", "value": 2400},
    {"symbol": null, "value": 60.0, "mode": "percentage", "name": "B", "extra": [1],
     "id": "5C0A3B1E-9F2D-4C6A-8B7E-1D2F3A4B5C6E"},
    {"id": "5C0A3B1E-9F2D-4C6A-8B7E-1D2F3A4B5C6F", "name": "", "mode": "rpm",
     "value": -9223372036854775808, "symbol": ""}
  ] )");
  EXPECT_TRUE(foreign.isComplete());
  EXPECT_EQ(foreign.presets,
            (QList<Preset>{
                {uuid("5C0A3B1E-9F2D-4C6A-8B7E-1D2F3A4B5C6D"), "A", PresetMode::rpm, 2400, {}},
                {uuid("5C0A3B1E-9F2D-4C6A-8B7E-1D2F3A4B5C6E"), "B", PresetMode::percentage, 60, {}},
                {uuid("5C0A3B1E-9F2D-4C6A-8B7E-1D2F3A4B5C6F"), "", PresetMode::rpm, INT64_MIN,
                 QString()}}));
}

TEST(PresetCodec, KeepsEveryReadableEntryAndNamesTheFirstProblem) {
  const auto entry = [](const char* id, const char* rest) {
    return QByteArray(R"({"id":"5C0A3B1E-9F2D-4C6A-8B7E-1D2F3A4B5C)") + id + "\"," + rest + "}";
  };
  const QByteArray good = entry("01", R"("name":"Good","mode":"rpm","value":1500)");
  const std::pair<QByteArray, const char*> cases[] = {
      {entry("02", R"("name":"X","mode":"turbo","value":1)"), "entry 2: unknown mode"},
      {entry("02", R"("mode":"rpm","value":1)"), "entry 2: missing \"name\""},
      {entry("02", R"("name":"X","mode":"rpm","value":9223372036854775808)"),
       "entry 2: \"value\" is not a 64-bit whole number"},
      {R"({"id":"{5C0A3B1E-9F2D-4C6A-8B7E-1D2F3A4B5C02}","name":"X","mode":"rpm","value":1})",
       "entry 2: \"id\" is not a UUID"},
  };
  for (const auto& [bad, problem] : cases) {
    SCOPED_TRACE(bad.toStdString());
    const DecodedPresets decoded = decodePresets("[" + good + "," + bad + "," + good + "]");
    EXPECT_EQ(decoded.problem, QString::fromUtf8(problem));
    EXPECT_EQ(decoded.droppedCount(), 1u);
    EXPECT_EQ(decoded.presets, decodePresets("[" + good + "," + good + "]").presets);
  }
  // Data that is no JSON array reads as nothing.
  const std::pair<QByteArray, const char*> malformed[] = {
      {"", "malformed JSON at byte 1"},
      {"{\"presets\":[]}", "not a JSON array"},
      {"[{\"value\":1e400}]", "malformed JSON (a number out of range)"},
  };
  for (const auto& [data, problem] : malformed) {
    SCOPED_TRACE(data.toStdString());
    const DecodedPresets decoded = decodePresets(data);
    EXPECT_EQ(decoded.problem, QString::fromUtf8(problem));
    EXPECT_EQ(decoded.entryCount + decoded.presets.size(), 0u);
  }
}

using Percentages = std::vector<std::int64_t>;

FanInfoDTO idleFan(double minRPM, double maxRPM) {
  return {0, minRPM, minRPM, maxRPM, FanMode::system};
}

// Names are trimmed and counted in user-perceived characters, and checked before the value.
TEST(PresetRules, NamesAndValuesAreChecked) {
  const QString empty = "Name cannot be empty.";
  const QString tooLong = "Name must be 30 characters or fewer.";
  EXPECT_EQ(validateName(" \t\n\r\u00a0\u2028 "), empty);

  const QString thirty = QString("a").repeated(30);
  EXPECT_EQ(validateName(thirty), std::nullopt);
  EXPECT_EQ(validateName(thirty + "b"), tooLong);
  EXPECT_EQ(validateName("  \n" + thirty + " \t\n"), std::nullopt) << "trimmed ends do not count";
  EXPECT_EQ(validateName(" " + QString("a ").repeated(15) + "b"), tooLong) << "inner spaces count";

  // One character each: an emoji beyond 16 bits, a family joined by ZWJs, an accented letter.
  for (const QString& character :
       {QStringLiteral("\U0001F525"), QStringLiteral("\U0001F468\u200D\U0001F469\u200D\U0001F467"),
        QStringLiteral("e\u0301")}) {
    SCOPED_TRACE(character.toStdString());
    EXPECT_EQ(validateName(character.repeated(30)), std::nullopt);
    EXPECT_EQ(validateName(character.repeated(31)), tooLong);
  }
  EXPECT_EQ(validatePreset("   ", PresetMode::percentage, 5, {}), empty) << "name checks first";

  const QString percentage = "Percentage must be between 25% and 100%.";
  const ValueBounds rpm{1200, 5800};
  EXPECT_EQ(validatePreset("P", PresetMode::percentage, 24, rpm), percentage);
  EXPECT_EQ(validatePreset("P", PresetMode::percentage, 25, rpm), std::nullopt);
  EXPECT_EQ(validatePreset("P", PresetMode::percentage, 100, rpm), std::nullopt);
  EXPECT_EQ(validatePreset("P", PresetMode::percentage, 101, rpm), percentage);

  const QString rpmMessage = "RPM must be between 1200 and 5800.";
  EXPECT_EQ(validatePreset("R", PresetMode::rpm, 1199, rpm), rpmMessage);
  EXPECT_EQ(validatePreset("R", PresetMode::rpm, 1200, rpm), std::nullopt);
  EXPECT_EQ(validatePreset("R", PresetMode::rpm, 5800, rpm), std::nullopt);
  EXPECT_EQ(validatePreset("R", PresetMode::rpm, 5801, rpm), rpmMessage);
}

// Percentage presets and clamping are checked through the view model.
TEST(PresetRules, RpmBoundsAndSharesComeFromTheFans) {
  const std::vector<FanInfoDTO> two{idleFan(1200, 5800), idleFan(1000, 6200)};
  EXPECT_EQ(rpmBounds(two), (ValueBounds{1000, 6200}));
  EXPECT_EQ(rpmBounds({}), (ValueBounds{0, 6000}));
  EXPECT_EQ(valueBounds(PresetMode::percentage, two), (ValueBounds{25, 100}));

  EXPECT_EQ(rpmBounds(std::vector{idleFan(1299.9, 5899.99)}), (ValueBounds{1299, 5899}))
      << "truncated";

  // A fan reporting no usable number must neither crash nor widen the range.
  EXPECT_EQ(rpmBounds(std::vector{idleFan(std::nan(""), INFINITY), idleFan(1500, 5000)}),
            (ValueBounds{1500, 5000}));

  // Exactly 62.5 % rounds away from zero to 63 (not to the even 62); 62.375 % to 62.
  const std::vector<FanInfoDTO> eighths{idleFan(1000, 1800)};
  EXPECT_EQ(presetPercentages(preset("P", PresetMode::rpm, 1500), eighths), Percentages{63});
  EXPECT_EQ(presetPercentages(preset("P", PresetMode::rpm, 1499), eighths), Percentages{62});

  // No usable range: equal or inverted bounds, or numbers that are not numbers.
  const std::vector<FanInfoDTO> unusable{idleFan(2000, 2000), idleFan(3000, 1000),
                                         idleFan(std::nan(""), 5000)};
  EXPECT_EQ(presetPercentages(preset("P", PresetMode::rpm, 2500), unusable),
            (Percentages{25, 25, 25}));
  EXPECT_EQ(presetPercentages(preset("P", PresetMode::rpm, INT64_MIN), eighths), Percentages{25});
  EXPECT_TRUE(presetPercentages(preset("P", PresetMode::rpm, 3000), {}).empty());
}

// The next run finds a clean list and leaves the backup alone.
TEST(PresetStoreTest, UnreadableDataIsKeptBeforeItIsReplaced) {
  const testing::TempDir dir;
  const QString file = QString::fromStdString((dir / "defaults.json").string());
  UserDefaults defaults{file};
  // Read back from the file, as the next run would.
  const auto storedOnDisk = [&file](const char* key = "fanPresets") {
    return UserDefaults(file).data(QLatin1StringView(key));
  };
  const QList<Preset> kept{preset("One", PresetMode::rpm, 2000),
                           preset("Two", PresetMode::percentage, 80, QStringLiteral("flame"))};
  QByteArray partly = encodePresets(kept);
  partly.insert(partly.indexOf(",{") + 1,
                R"({"id":"5C0A3B1E-9F2D-4C6A-8B7E-1D2F3A4B5C6D","name":"Odd","mode":"turbo",)"
                R"("value":1},)");
  const struct {
    std::function<void(UserDefaults&)> store;
    QByteArray backup;
    QList<Preset> presets;
    const char* line;
  } cases[] = {
      {[&](UserDefaults& d) { d.setData("fanPresets", partly); }, partly, kept,
       "[Zephro] Dropped 1 of 3 stored presets that could not be read (entry 2: unknown mode); "
       "the original data is kept under \"fanPresetsBackup\""},
      {[](UserDefaults& d) { d.setData("fanPresets", "[{\"id\": tru"); },
       "[{\"id\": tru",
       {},
       "[Zephro] Stored presets could not be read (malformed JSON at byte 12); the original data "
       "is kept under \"fanPresetsBackup\""},
      {[](UserDefaults& d) { d.setString("fanPresets", "[]\u00e9"); },
       "[]\xc3\xa9",
       {},
       "[Zephro] Stored presets could not be read (not a data value); the original data is kept "
       "under \"fanPresetsBackup\""},
  };
  for (const auto& [storeValue, backup, presets, line] : cases) {
    SCOPED_TRACE(line);
    storeValue(defaults);
    const log::Capture capture;
    const PresetStore store(defaults);
    EXPECT_THAT(capture.lines(), ::testing::Contains(line));
    EXPECT_EQ(store.presets(), presets);
    EXPECT_EQ(storedOnDisk(), encodePresets(presets));
    EXPECT_EQ(storedOnDisk("fanPresetsBackup"), backup);
    EXPECT_EQ(PresetStore::loadStoredPresets(defaults), presets);
  }

  const log::Capture capture;
  const PresetStore nextRun(defaults);
  EXPECT_TRUE(capture.lines().empty());
  EXPECT_EQ(storedOnDisk("fanPresetsBackup"), "[]\xc3\xa9");
}

}  // namespace
}  // namespace zephro

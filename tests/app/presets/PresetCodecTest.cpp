#include "app/presets/PresetCodec.h"

#include <gtest/gtest.h>

namespace zephro {
namespace {

QUuid uuid(const char* text) {
  return QUuid::fromString(QLatin1StringView(text));
}

TEST(PresetCodec, EncodesTheStoredFormByteForByte) {
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
  EXPECT_EQ(encodePresets({}), "[]");

  const DecodedPresets decoded = decodePresets(expected);
  EXPECT_TRUE(decoded.isComplete());
  EXPECT_EQ(decoded.presets, presets);
}

TEST(PresetCodec, ReadsWhatOtherWritersMayStore) {
  // Lower-case ids, no or null symbol, extra keys, whitespace, a float that is whole.
  const DecodedPresets decoded = decodePresets(R"( [
    {"id": "5c0a3b1e-9f2d-4c6a-8b7e-1d2f3a4b5c6d", "name": "A", "mode": "rpm", "value": 2400},
    {"symbol": null, "value": 60.0, "mode": "percentage", "name": "B", "extra": [1],
     "id": "5C0A3B1E-9F2D-4C6A-8B7E-1D2F3A4B5C6E"},
    {"id": "5C0A3B1E-9F2D-4C6A-8B7E-1D2F3A4B5C6F", "name": "", "mode": "rpm",
     "value": -9223372036854775808, "symbol": ""}
  ] )");
  EXPECT_TRUE(decoded.isComplete());
  EXPECT_EQ(decoded.presets,
            (QList<Preset>{
                {uuid("5C0A3B1E-9F2D-4C6A-8B7E-1D2F3A4B5C6D"), "A", PresetMode::rpm, 2400, {}},
                {uuid("5C0A3B1E-9F2D-4C6A-8B7E-1D2F3A4B5C6E"), "B", PresetMode::percentage, 60, {}},
                {uuid("5C0A3B1E-9F2D-4C6A-8B7E-1D2F3A4B5C6F"), "", PresetMode::rpm, INT64_MIN,
                 QString()}}));
}

TEST(PresetCodec, KeepsEveryReadableEntryAndNamesTheFirstBadOne) {
  const auto entry = [](const char* id, const char* rest) {
    return QByteArray(R"({"id":"5C0A3B1E-9F2D-4C6A-8B7E-1D2F3A4B5C)") + id + "\"," + rest + "}";
  };
  const QByteArray good = entry("01", R"("name":"Good","mode":"rpm","value":1500)");
  const std::pair<QByteArray, const char*> cases[] = {
      {entry("02", R"("name":"X","mode":"turbo","value":1)"), "entry 2: unknown mode"},
      {entry("02", R"("mode":"rpm","value":1)"), "entry 2: missing \"name\""},
      {entry("02", R"("name":7,"mode":"rpm","value":1)"), "entry 2: \"name\" is not a string"},
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
}

TEST(PresetCodec, DataThatIsNoJsonArrayReadsAsNothing) {
  const std::pair<QByteArray, const char*> cases[] = {
      {"", "malformed JSON at byte 1"},
      {"[\"\xff\"]", "malformed JSON at byte 3"},
      {"{\"presets\":[]}", "not a JSON array"},
      {"[{\"value\":1e400}]", "malformed JSON (a number out of range)"},
  };
  for (const auto& [data, problem] : cases) {
    SCOPED_TRACE(data.toStdString());
    const DecodedPresets decoded = decodePresets(data);
    EXPECT_EQ(decoded.problem, QString::fromUtf8(problem));
    EXPECT_EQ(decoded.entryCount + decoded.presets.size(), 0u);
  }
}

}  // namespace
}  // namespace zephro

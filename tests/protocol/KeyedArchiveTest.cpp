#include "protocol/KeyedArchive.h"

#include <gtest/gtest.h>

namespace zephro {
namespace {

using archive::DecodingError;
using nlohmann::json;

constexpr archive::AllowedClasses kFanInfoReply = {archive::kArrayClass, archive::kFanInfoClass};
constexpr archive::AllowedClasses kPercentages = {archive::kArrayClass, archive::kNumberClass};

json fanFields(json mode) {
  return {{"$class", "FanInfoDTO"}, {"index", 1},       {"currentRPM", 2317.0},
          {"minRPM", 1200.0},       {"maxRPM", 6000.0}, {"mode", std::move(mode)}};
}

FanInfoDTO decodeOne(json fields) {
  return archive::decodeFanInfoArray(archive::archiveArray({std::move(fields)}), kFanInfoReply)
      .at(0);
}

TEST(KeyedArchive, FanInfoSurvivesTheRoundTripUnderItsPlainClassName) {
  const std::vector<FanInfoDTO> fans{FanInfoDTO(0, 2317.25, 2317.0, 6550.0, FanMode::manual),
                                     FanInfoDTO(1, 0.1, -5.0, 0.0, FanMode::max)};
  const auto archived = archive::archiveFanInfoArray(fans);
  EXPECT_EQ(archived["NS.objects"][0]["$class"], "FanInfoDTO");
  EXPECT_EQ(archived["NS.objects"][0]["mode"], 1);
  // Through CBOR, as on the wire.
  const auto wire = json::from_cbor(json::to_cbor(archived));
  EXPECT_EQ(archive::decodeFanInfoArray(wire, kFanInfoReply), fans);
}

TEST(KeyedArchive, SecureDecodingOfFanInfoNeverFailsOnMissingOrUnknownValues) {
  EXPECT_EQ(decodeOne(fanFields(2)).mode(), FanMode::max);
  EXPECT_EQ(decodeOne(fanFields(7)).mode(), FanMode::system);
  EXPECT_EQ(decodeOne(fanFields(-1)).mode(), FanMode::system);
  // No "mode" key, like every other missing key, reads as zero.
  EXPECT_EQ(decodeOne({{"$class", "FanInfoDTO"}}), FanInfoDTO(0, 0.0, 0.0, 0.0, FanMode::system));
  // An integer where a double is expected is still a number.
  auto integral = fanFields(2);
  integral["maxRPM"] = 6000;
  EXPECT_EQ(decodeOne(integral).maxRPM(), 6000.0);
  // But a key that holds text is a broken archive, not a zero.
  auto text = fanFields(2);
  text["index"] = "one";
  EXPECT_THROW((void)decodeOne(text), DecodingError);
}

TEST(KeyedArchive, GeneralCodingKeepsFieldOrderAndRefusesUnknownModes) {
  const FanInfoDTO fan(3, 2400.5, 1200.0, 6000.0, FanMode::max);
  const nlohmann::ordered_json encoded = fan;
  EXPECT_EQ(encoded.dump(),
            R"({"index":3,"currentRPM":2400.5,"minRPM":1200.0,"maxRPM":6000.0,"mode":2})");
  EXPECT_EQ(encoded.get<FanInfoDTO>(), fan);

  auto unknownMode = encoded;
  unknownMode["mode"] = 7;
  EXPECT_THROW((void)unknownMode.get<FanInfoDTO>(), nlohmann::json::exception);
  auto missingMode = encoded;
  missingMode.erase("mode");
  EXPECT_THROW((void)missingMode.get<FanInfoDTO>(), nlohmann::json::exception);
}

TEST(KeyedArchive, EachPositionRefusesClassesOutsideItsAllowList) {
  // A number array where fan records belong, and fan records where numbers belong.
  const auto numbers = archive::archiveNumberArray({40, 60});
  const auto fans = archive::archiveFanInfoArray({FanInfoDTO(0, 1, 2, 3, FanMode::system)});
  EXPECT_THROW((void)archive::decodeFanInfoArray(numbers, kFanInfoReply), DecodingError);
  EXPECT_THROW((void)archive::decodeNumberArray(fans, kPercentages), DecodingError);
  EXPECT_EQ(archive::decodeNumberArray(numbers, kPercentages), (std::vector<std::int64_t>{40, 60}));

  // A class nobody allows, a module-qualified name, an untagged map, a bare array.
  auto foreign = archive::archiveArray({archive::archiveString("40")});
  EXPECT_THROW((void)archive::decodeNumberArray(foreign, kPercentages), DecodingError);
  auto qualified = fans;
  qualified["NS.objects"][0]["$class"] = "Zephro.FanInfoDTO";
  EXPECT_THROW((void)archive::decodeFanInfoArray(qualified, kFanInfoReply), DecodingError);
  EXPECT_THROW((void)archive::decodeNumberArray(json{{"NS.objects", json::array()}}, kPercentages),
               DecodingError);
  EXPECT_THROW((void)archive::decodeNumberArray(json::array({40, 60}), kPercentages),
               DecodingError);
  // Numbers that are not whole or do not fit a signed 64-bit integer.
  auto fractional = archive::archiveArray({json{{"$class", "NSNumber"}, {"value", 40.5}}});
  EXPECT_THROW((void)archive::decodeNumberArray(fractional, kPercentages), DecodingError);
  auto huge =
      archive::archiveArray({json{{"$class", "NSNumber"}, {"value", std::uint64_t{1} << 63}}});
  EXPECT_THROW((void)archive::decodeNumberArray(huge, kPercentages), DecodingError);
}

// Errors round-trip in the connection and daemon tests.
TEST(KeyedArchive, ErrorsRefuseMistypedFields) {
  EXPECT_THROW((void)archive::decodeError(archive::archiveString("x")), DecodingError);
  auto badInfo = archive::archiveError(Error::withDescription("HelperError", -1, "fanCount is -1"));
  badInfo["userInfo"]["NSLocalizedDescription"] = 3;
  EXPECT_THROW((void)archive::decodeError(badInfo), DecodingError);
}

}  // namespace
}  // namespace zephro

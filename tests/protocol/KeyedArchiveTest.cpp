#include "protocol/KeyedArchive.h"

#include <gtest/gtest.h>

namespace zephro {
namespace {

using archive::DecodingError;
using nlohmann::json;

constexpr archive::AllowedClasses kFanInfoReply = {archive::kArrayClass, archive::kFanInfoClass};
constexpr archive::AllowedClasses kPercentages = {archive::kArrayClass, archive::kNumberClass};

FanInfoDTO decodeOne(json fields) {
  return archive::decodeFanInfoArray(archive::archiveArray({std::move(fields)}), kFanInfoReply)
      .at(0);
}

TEST(KeyedArchive, SecureDecodingOfFanInfoNeverFailsOnMissingOrUnknownValues) {
  const json fields{{"$class", "FanInfoDTO"}, {"index", 1},       {"currentRPM", 2317.0},
                    {"minRPM", 1200.0},       {"maxRPM", 6000.0}, {"mode", 2}};
  const auto with = [&](const char* key, json value) {
    auto changed = fields;
    changed[key] = std::move(value);
    return changed;
  };
  EXPECT_EQ(decodeOne(fields), FanInfoDTO(1, 2317.0, 1200.0, 6000.0, FanMode::max));
  EXPECT_EQ(decodeOne(with("mode", 7)).mode(), FanMode::system);
  // No "mode" key, like every other missing key, reads as zero; an integer is still a number.
  EXPECT_EQ(decodeOne({{"$class", "FanInfoDTO"}}), FanInfoDTO(0, 0.0, 0.0, 0.0, FanMode::system));
  EXPECT_EQ(decodeOne(with("maxRPM", 6000)).maxRPM(), 6000.0);
  // But a key that holds text is a broken archive, not a zero.
  EXPECT_THROW((void)decodeOne(with("index", "one")), DecodingError);
}

TEST(KeyedArchive, GeneralCodingKeepsFieldOrderAndRefusesUnknownModes) {
  const FanInfoDTO fan(3, 2400.5, 1200.0, 6000.0, FanMode::max);
  const nlohmann::ordered_json encoded = fan;
  EXPECT_EQ(encoded.dump(),
            R"({"index":3,"currentRPM":2400.5,"minRPM":1200.0,"maxRPM":6000.0,"mode":2})");
  EXPECT_EQ(encoded.get<FanInfoDTO>(), fan);
  auto broken = encoded;
  broken["mode"] = 7;
  EXPECT_THROW((void)broken.get<FanInfoDTO>(), nlohmann::json::exception);
  broken.erase("mode");
  EXPECT_THROW((void)broken.get<FanInfoDTO>(), nlohmann::json::exception);
}

TEST(KeyedArchive, EachPositionRefusesClassesOutsideItsAllowList) {
  const auto numbers = archive::archiveNumberArray({40, 60});
  EXPECT_EQ(archive::decodeNumberArray(numbers, kPercentages), (std::vector<std::int64_t>{40, 60}));
  const auto fans = archive::archiveFanInfoArray({FanInfoDTO(0, 1, 2, 3, FanMode::system)});
  auto qualified = fans;
  qualified["NS.objects"][0]["$class"] = "Zephro.FanInfoDTO";
  EXPECT_THROW((void)archive::decodeFanInfoArray(numbers, kFanInfoReply), DecodingError);
  EXPECT_THROW((void)archive::decodeFanInfoArray(qualified, kFanInfoReply), DecodingError);
  // Numbers that are not whole or do not fit a signed 64-bit integer are refused too.
  for (const auto& wrong :
       {fans, archive::archiveArray({archive::archiveString("40")}),
        json{{"NS.objects", json::array()}}, json::array({40, 60}),
        archive::archiveArray({json{{"$class", "NSNumber"}, {"value", 40.5}}}),
        archive::archiveArray({json{{"$class", "NSNumber"}, {"value", std::uint64_t{1} << 63}}})}) {
    EXPECT_THROW((void)archive::decodeNumberArray(wrong, kPercentages), DecodingError) << wrong;
  }
  EXPECT_THROW((void)archive::decodeError(archive::archiveString("x")), DecodingError);
  auto badInfo = archive::archiveError(Error::withDescription("HelperError", -1, "fanCount is -1"));
  badInfo["userInfo"]["NSLocalizedDescription"] = 3;
  EXPECT_THROW((void)archive::decodeError(badInfo), DecodingError);
}

}  // namespace
}  // namespace zephro

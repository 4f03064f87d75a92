#include "platform/update/Configuration.h"

#include <gtest/gtest.h>

#include "platform/bundle/Bundle.h"
#include "platform/update/Base64.h"

namespace zephro::update {
namespace {

using namespace std::chrono_literals;

const std::vector<std::uint8_t> kKey(32, 7);

std::string dictionary(const std::string& members) {
  return R"({"CFBundleShortVersionString": "0.9", "CFBundleVersion": "12",
             "SUFeedURL": "https://zephro.example/appcast.xml", "SUPublicEDKey": ")" +
         encodeBase64(kKey) + "\"" + members + "}";
}

Configuration read(const std::string& json) {
  return Configuration::fromInfo(bundle::InfoDictionary::parse(json));
}

TEST(ConfigurationTest, ReadsTheDictionaryWithDefaultsForWhatItLeavesOut) {
  const Configuration plain = read(dictionary(""));
  EXPECT_EQ(plain.problem(), std::nullopt);
  EXPECT_EQ(plain.feedURL, "https://zephro.example/appcast.xml");
  EXPECT_EQ(plain.publicEDKey, kKey);
  EXPECT_TRUE(plain.automaticChecks);
  EXPECT_EQ(plain.checkInterval, 86400s);
  EXPECT_EQ(plain.shortVersion, "0.9");
  EXPECT_EQ(plain.version, "12");

  const Configuration set =
      read(dictionary(R"(, "SUEnableAutomaticChecks": false, "SUScheduledCheckInterval": 7200)"));
  EXPECT_EQ(set.problem(), std::nullopt);
  EXPECT_FALSE(set.automaticChecks);
  EXPECT_EQ(set.checkInterval, 7200s);
  // Too short an interval is raised to an hour rather than refused.
  EXPECT_EQ(read(dictionary(R"(, "SUScheduledCheckInterval": 60)")).checkInterval, 3600s);
  // Without a short version, the build version is shown.
  EXPECT_EQ(read(R"({"CFBundleVersion": "12"})").shortVersion, "12");
}

TEST(ConfigurationTest, UnusableValuesAreReported) {
  struct Case {
    std::string json;
    std::string problem;
  };
  const std::string badKey = "SUPublicEDKey is not a base64 Ed25519 public key (32 bytes)";
  const std::vector<Case> cases{
      {"{}", "SUFeedURL is not set"},
      {R"({"SUFeedURL": "", "CFBundleVersion": "1"})", "SUFeedURL is not set"},
      {R"({"SUFeedURL": "ftp://zephro.example/a.xml"})",
       "SUFeedURL is not an http or https address: ftp://zephro.example/a.xml"},
      {R"({"SUFeedURL": "HTTPS://zephro.example/a.xml", "CFBundleVersion": "1"})",
       "SUPublicEDKey is not set"},
      {R"({"SUFeedURL": "https://z.example/", "SUPublicEDKey": "not base64!"})", badKey},
      {R"({"SUFeedURL": "https://z.example/", "SUPublicEDKey": ")" +
           encodeBase64(std::vector<std::uint8_t>(31, 7)) + "\"}",
       badKey},
      {dictionary(R"(, "SUEnableAutomaticChecks": "YES")"),
       "SUEnableAutomaticChecks is not true or false"},
      {dictionary(R"(, "SUScheduledCheckInterval": "86400")"),
       "SUScheduledCheckInterval is not a positive number of seconds"},
      {dictionary(R"(, "SUScheduledCheckInterval": 0)"),
       "SUScheduledCheckInterval is not a positive number of seconds"},
      {R"({"SUFeedURL": "https://z.example/", "SUPublicEDKey": ")" + encodeBase64(kKey) + "\"}",
       "CFBundleVersion is not set"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(read(c.json).problem(), c.problem) << c.json;
  }

  // A configuration built in code is checked the same way.
  Configuration made;
  EXPECT_EQ(made.problem(), "SUFeedURL is not set");
  made.feedURL = "https://zephro.example/appcast.xml";
  made.publicEDKey = std::vector<std::uint8_t>(31, 7);
  EXPECT_EQ(made.problem(), badKey);
  made.publicEDKey = kKey;
  EXPECT_EQ(made.problem(), std::nullopt);
}

// The dictionary the build makes carries the project's version and the configured feed.
TEST(ConfigurationTest, GeneratedDictionaryCarriesTheBuildSettings) {
  const auto file = bundle::Bundle::findInfoFile(bundle::Bundle::infoFileCandidates());
  ASSERT_TRUE(file.has_value());
  const Configuration configuration = Configuration::fromInfo(bundle::InfoDictionary::load(*file));
  EXPECT_EQ(configuration.shortVersion, ZEPHRO_PROJECT_VERSION);
  EXPECT_EQ(configuration.version, ZEPHRO_BUNDLE_VERSION);
  EXPECT_EQ(configuration.feedURL, ZEPHRO_UPDATE_FEED_URL);
  EXPECT_EQ(configuration.checkInterval, 86400s);
  EXPECT_TRUE(configuration.automaticChecks);
  if (std::string(ZEPHRO_UPDATE_FEED_URL).empty()) {
    EXPECT_EQ(configuration.problem(), "SUFeedURL is not set");
  }
}

}  // namespace
}  // namespace zephro::update

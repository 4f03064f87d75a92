#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/update/Appcast.h"
#include "platform/update/Base64.h"
#include "platform/update/Configuration.h"
#include "platform/update/VersionComparator.h"

namespace zephro::update {
namespace {

using namespace std::chrono_literals;
using Items = std::vector<AppcastItem>;

std::string feed(const std::string& items) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<rss version=\"2.0\" "
         "xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\">\n<channel>" +
         items + "</channel></rss>";
}

AppcastItem item(const std::string& version, std::optional<AppcastItem::Enclosure> enclosure = {}) {
  return {"", version, version, std::nullopt, std::move(enclosure), false, std::nullopt};
}

TEST(AppcastTest, BrokenFeedsSayWhere) {
  const std::string prefix = "The update feed could not be parsed: ";
  const std::pair<std::string, std::string> cases[] = {
      {"", prefix + "no element found (line 1, column 1)."},
      {"<rss>\n<channel>\n  <item>\n  </channel>", prefix + "mismatched tag (line 4, column 5)."},
      {"<html><body/></html>",
       prefix + "the root element is <html>, not <rss> (line 1, column 1)."},
      // The billion laughs never get to expand: the declaration alone is refused.
      {"<?xml version=\"1.0\"?>\n<!DOCTYPE rss [<!ENTITY lol \"lol\">"
       "<!ENTITY lol2 \"&lol;&lol;&lol;&lol;\">]>\n<rss>&lol2;</rss>",
       prefix + "document type declarations are not allowed (line 2, column 15)."},
      {std::string(kMaxAppcastSize + 1, ' '),
       "The update feed is larger than 4 MiB; it was not read."},
  };
  for (const auto& [xml, message] : cases) {
    EXPECT_THAT([&] { (void)parseAppcast(xml); }, ::testing::ThrowsMessage<AppcastError>(message));
  }
  std::string largest = feed("");
  largest.append(kMaxAppcastSize - largest.size(), ' ');
  EXPECT_EQ(parseAppcast(largest), Items{});
}

TEST(AppcastTest, VersionsCompareAndTheBestItemIsTheNewestAboveTheRunningVersion) {
  const std::pair<std::string, std::string> ordered[] = {
      {"1.9", "1.10"},     {"0.0.1", "0.1"},    {"1.0", "1.0.1"},
      {"1.0", "1.0.0"},    {"1.0b1", "1.0"},    {"1.0a1", "1.0b1"},
      {"1.0b2", "1.0b10"}, {"1.0rc1", "1.0.0"}, {"2", "18446744073709551616"},
      {"1.a", "1.0"},      {"1a", "1.a"},       {"a.1", "a1"}};
  for (const auto& [older, newer] : ordered) {
    EXPECT_EQ(compareVersions(older, newer), std::strong_ordering::less) << older << " < " << newer;
    EXPECT_EQ(compareVersions(newer, older), std::strong_ordering::greater) << newer;
  }
  for (const auto& [a, b] : {std::pair{"1.0", "1.0"}, {"007", "7"}, {"1.0-1", "1.0.1"}, {"", ""}}) {
    EXPECT_EQ(compareVersions(a, b), std::strong_ordering::equal) << a << " == " << b;
  }

  const AppcastItem::Enclosure archive{"https://zephro.example/z.zip", 1, "", ""};
  const Items items{item("9", archive), item("12", archive), item("10", archive)};
  for (const auto* running : {"9", "11"}) EXPECT_EQ(bestItem(items, running), items[1]);
  for (const auto* running : {"12", "12.1"}) EXPECT_EQ(bestItem(items, running), std::nullopt);
  // Information-only items are offered too: the driver shows them.
  Items withNews = items;
  withNews.push_back(item("13"));
  EXPECT_EQ(bestItem(withNews, "12"), withNews.back());
  // Of equal versions, the first in the feed.
  AppcastItem twin = item("12", archive);
  twin.title = "twin";
  EXPECT_EQ(bestItem({item("12", archive), twin}, "1"), item("12", archive));
}

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
  const auto fields = [](const Configuration& c) {
    return std::tuple(c.problem(), c.feedURL, c.publicEDKey, c.automaticChecks, c.checkInterval,
                      c.shortVersion, c.version);
  };
  const std::string url = "https://zephro.example/appcast.xml";
  EXPECT_EQ(fields(read(dictionary(""))),
            std::tuple(std::nullopt, url, kKey, true, 86400s, "0.9", "12"));
  // Too short an interval is raised to an hour rather than refused.
  EXPECT_EQ(read(dictionary(R"(, "SUScheduledCheckInterval": 60)")).checkInterval, 3600s);
  // Without a short version, the build version is shown.
  EXPECT_EQ(read(R"({"CFBundleVersion": "12"})").shortVersion, "12");
}

TEST(ConfigurationTest, UnusableValuesAreReported) {
  const std::string badKey = "SUPublicEDKey is not a base64 Ed25519 public key (32 bytes)";
  const std::string badInterval = "SUScheduledCheckInterval is not a positive number of seconds";
  const std::pair<std::string, std::string> cases[] = {
      {"{}", "SUFeedURL is not set"},
      {R"({"SUFeedURL": "ftp://zephro.example/a.xml"})",
       "SUFeedURL is not an http or https address: ftp://zephro.example/a.xml"},
      {R"({"SUFeedURL": "HTTPS://zephro.example/a.xml", "CFBundleVersion": "1"})",
       "SUPublicEDKey is not set"},
      {R"({"SUFeedURL": "https://z.example/", "SUPublicEDKey": "not base64!"})", badKey},
      {dictionary(R"(, "SUEnableAutomaticChecks": "YES")"),
       "SUEnableAutomaticChecks is not true or false"},
      {dictionary(R"(, "SUScheduledCheckInterval": "86400")"), badInterval},
      {R"({"SUFeedURL": "https://z.example/", "SUPublicEDKey": ")" + encodeBase64(kKey) + "\"}",
       "CFBundleVersion is not set"},
  };
  for (const auto& [json, problem] : cases) EXPECT_EQ(read(json).problem(), problem) << json;

  // A configuration built in code is checked the same way.
  Configuration made;
  EXPECT_EQ(made.problem(), "SUFeedURL is not set");
  made.feedURL = "https://zephro.example/appcast.xml";
  made.publicEDKey = std::vector<std::uint8_t>(31, 7);
  EXPECT_EQ(made.problem(), badKey);
  made.publicEDKey = kKey;
  EXPECT_EQ(made.problem(), std::nullopt);
}

}  // namespace
}  // namespace zephro::update

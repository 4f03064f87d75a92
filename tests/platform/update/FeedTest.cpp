#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/bundle/Bundle.h"
#include "platform/update/Appcast.h"
#include "platform/update/Base64.h"
#include "platform/update/Configuration.h"
#include "platform/update/VersionComparator.h"

namespace zephro::update {
namespace {

using namespace std::chrono_literals;
using Items = std::vector<AppcastItem>;

std::string feed(const std::string& items, const std::string& prefix = "sparkle") {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<rss version=\"2.0\" xmlns:" + prefix +
         "=\"http://www.andymatuschak.org/xml-namespaces/sparkle\">\n<channel><title>Zephro"
         "</title>" +
         items + "</channel></rss>";
}

AppcastItem item(const std::string& version, std::optional<AppcastItem::Enclosure> enclosure = {}) {
  return {"", version, version, std::nullopt, std::move(enclosure), false, std::nullopt};
}

TEST(AppcastTest, ReadsVersionsFromElementsOrFromTheEnclosure) {
  const std::string items = R"(
    <item>
      <title>Zephro 0.9</title>
      <link> https://zephro.example/0.9 </link>
      <sparkle:version>12</sparkle:version>
      <sparkle:shortVersionString>0.9</sparkle:shortVersionString>
      <sparkle:minimumSystemVersion>6.1</sparkle:minimumSystemVersion>
      <enclosure url="https://zephro.example/Zephro-0.9.tar.xz" length="123456"
                 type="application/x-xz" sparkle:edSignature="c2lnbmF0dXJl"
                 sparkle:version="ignored"/>
    </item>
    <item>
      <title>Zephro 0.8.1</title>
      <enclosure url="https://zephro.example/Zephro-0.8.1.zip" length="many"
                 type="application/zip" sparkle:version="11"
                 sparkle:shortVersionString="0.8.1"/>
    </item>)";
  using Archive = AppcastItem::Enclosure;
  const Items expected{
      {"Zephro 0.9", "12", "0.9", "https://zephro.example/0.9",
       Archive{"https://zephro.example/Zephro-0.9.tar.xz", 123456, "application/x-xz",
               "c2lnbmF0dXJl"},
       false, "6.1"},
      {"Zephro 0.8.1", "11", "0.8.1", std::nullopt,
       Archive{"https://zephro.example/Zephro-0.8.1.zip", 0, "application/zip", ""}, false,
       std::nullopt}};
  EXPECT_EQ(parseAppcast(feed(items)), expected);
  // The namespace decides, not the prefix bound to it.
  std::string renamed = items;
  for (std::size_t at; (at = renamed.find("sparkle:")) != std::string::npos;) {
    renamed.replace(at, 8, "su:");
  }
  EXPECT_EQ(parseAppcast(feed(renamed, "su")), expected);
  EXPECT_EQ(parseAppcast(R"(<rss xmlns:sparkle="urn:other"><channel><item>
      <sparkle:version>12</sparkle:version></item></channel></rss>)"),
            Items{});

  // Information-only items are kept; items without a version or an archive address are not.
  const auto kept = parseAppcast(feed(R"(
    <item><sparkle:version>3</sparkle:version><link>https://zephro.example/news</link></item>
    <item><sparkle:version>4</sparkle:version><sparkle:informationalUpdate/>
          <enclosure url="https://zephro.example/4.zip"/></item>
    <item><title>no version</title><enclosure url="https://zephro.example/x.zip"/></item>
    <item><sparkle:version>5</sparkle:version><enclosure length="10"/></item>
    <item><sparkle:version>6</sparkle:version><enclosure url="https://zephro.example/6.zip"/></item>)"));
  EXPECT_EQ(kept,
            (Items{{"", "3", "3", "https://zephro.example/news", std::nullopt, false, std::nullopt},
                   {"", "4", "4", std::nullopt, Archive{"https://zephro.example/4.zip", 0, "", ""},
                    true, std::nullopt},
                   item("6", Archive{"https://zephro.example/6.zip", 0, "", ""})}));
  std::vector<bool> informationOnly;
  for (const auto& read : kept) informationOnly.push_back(read.isInformationOnlyUpdate());
  EXPECT_EQ(informationOnly, (std::vector<bool>{true, true, false}));
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
      {"1.9", "1.10"},    {"1.0", "1.1"},      {"0.0.1", "0.1"},   {"1.0", "1.0.1"},
      {"1.0", "1.0.0"},   {"1.0b1", "1.0"},    {"1.0a1", "1.0b1"}, {"1.0b2", "1.0b10"},
      {"1.0b1", "1.0.1"}, {"1.0rc1", "1.0.0"}, {"9", "10"},        {"2", "18446744073709551616"},
      {"1.a", "1.0"},     {"1a", "1.a"},       {"a.1", "a1"}};
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
  EXPECT_EQ(fields(read(dictionary(
                R"(, "SUEnableAutomaticChecks": false, "SUScheduledCheckInterval": 7200)"))),
            std::tuple(std::nullopt, url, kKey, false, 7200s, "0.9", "12"));
  // Too short an interval is raised to an hour rather than refused.
  EXPECT_EQ(read(dictionary(R"(, "SUScheduledCheckInterval": 60)")).checkInterval, 3600s);
  // Without a short version, the build version is shown.
  EXPECT_EQ(read(R"({"CFBundleVersion": "12"})").shortVersion, "12");

  // The dictionary the build makes carries the project's version and the configured feed.
  const auto file = bundle::Bundle::findInfoFile(bundle::Bundle::infoFileCandidates());
  ASSERT_TRUE(file.has_value());
  const Configuration built = Configuration::fromInfo(bundle::InfoDictionary::load(*file));
  EXPECT_EQ(std::tuple(built.shortVersion, built.version, built.feedURL, built.checkInterval,
                       built.automaticChecks),
            std::tuple(ZEPHRO_PROJECT_VERSION, ZEPHRO_BUNDLE_VERSION, ZEPHRO_UPDATE_FEED_URL,
                       86400s, true));
  EXPECT_TRUE(!built.feedURL.empty() || built.problem() == "SUFeedURL is not set");
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
      {R"({"SUFeedURL": "https://z.example/", "SUPublicEDKey": ")" +
           encodeBase64(std::vector<std::uint8_t>(31, 7)) + "\"}",
       badKey},
      {dictionary(R"(, "SUEnableAutomaticChecks": "YES")"),
       "SUEnableAutomaticChecks is not true or false"},
      {dictionary(R"(, "SUScheduledCheckInterval": "86400")"), badInterval},
      {dictionary(R"(, "SUScheduledCheckInterval": 0)"), badInterval},
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

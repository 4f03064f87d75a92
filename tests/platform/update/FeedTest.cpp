// The update feed and the updater's configuration as the bundle's dictionary sets it.
#include <gtest/gtest.h>

#include "platform/bundle/Bundle.h"
#include "platform/update/Appcast.h"
#include "platform/update/Base64.h"
#include "platform/update/Configuration.h"
#include "platform/update/VersionComparator.h"

namespace zephro::update {
namespace {

using namespace std::chrono_literals;

std::string feed(const std::string& items, const std::string& prefix = "sparkle") {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<rss version=\"2.0\" xmlns:" + prefix +
         "=\"http://www.andymatuschak.org/xml-namespaces/sparkle\">\n<channel><title>Zephro"
         "</title>" +
         items + "</channel></rss>";
}

AppcastItem item(std::string version, std::optional<AppcastItem::Enclosure> enclosure = {}) {
  AppcastItem result;
  result.versionString = result.displayVersionString = std::move(version);
  result.enclosure = std::move(enclosure);
  return result;
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
  AppcastItem first =
      item("12", AppcastItem::Enclosure{"https://zephro.example/Zephro-0.9.tar.xz", 123456,
                                        "application/x-xz", "c2lnbmF0dXJl"});
  first.title = "Zephro 0.9";
  first.displayVersionString = "0.9";
  first.infoURL = "https://zephro.example/0.9";
  first.minimumSystemVersion = "6.1";
  AppcastItem second = item("11", AppcastItem::Enclosure{"https://zephro.example/Zephro-0.8.1.zip",
                                                         0, "application/zip", ""});
  second.title = "Zephro 0.8.1";
  second.displayVersionString = "0.8.1";
  const std::vector<AppcastItem> expected{first, second};

  EXPECT_EQ(parseAppcast(feed(items)), expected);
  // The namespace decides, not the prefix bound to it.
  std::string renamed = items;
  for (std::size_t at; (at = renamed.find("sparkle:")) != std::string::npos;) {
    renamed.replace(at, 8, "su:");
  }
  EXPECT_EQ(parseAppcast(feed(renamed, "su")), expected);
  EXPECT_TRUE(parseAppcast(R"(<rss xmlns:sparkle="urn:other"><channel><item>
      <sparkle:version>12</sparkle:version></item></channel></rss>)")
                  .empty());
}

TEST(AppcastTest, InformationOnlyAndUnusableItems) {
  const auto items = parseAppcast(feed(R"(
    <item><sparkle:version>3</sparkle:version><link>https://zephro.example/news</link></item>
    <item><sparkle:version>4</sparkle:version><sparkle:informationalUpdate/>
          <enclosure url="https://zephro.example/4.zip"/></item>
    <item><title>no version</title><enclosure url="https://zephro.example/x.zip"/></item>
    <item><sparkle:version>5</sparkle:version><enclosure length="10"/></item>
    <item><sparkle:version>6</sparkle:version><enclosure url="https://zephro.example/6.zip"/></item>)"));
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].infoURL, "https://zephro.example/news");
  EXPECT_TRUE(items[0].isInformationOnlyUpdate());  // no enclosure
  EXPECT_TRUE(items[1].informationalUpdate);
  EXPECT_TRUE(items[1].isInformationOnlyUpdate());
  EXPECT_EQ(items[2].versionString, "6");
  EXPECT_FALSE(items[2].isInformationOnlyUpdate());
}

TEST(AppcastTest, BrokenFeedsSayWhere) {
  const std::string prefix = "The update feed could not be parsed: ";
  const std::pair<std::string, std::string> cases[] = {
      {"", prefix + "no element found (line 1, column 1)."},
      {"<rss>\n<channel>\n  <item>\n  </channel>", prefix + "mismatched tag (line 4, column 5)."},
      {"<rss><channel><item><title>a &nbsp; b</title></item></channel></rss>",
       prefix + "undefined entity (line 1, column 30)."},
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
    try {
      (void)parseAppcast(xml);
      ADD_FAILURE() << "parsed: " << message;
    } catch (const AppcastError& error) {
      EXPECT_EQ(std::string(error.what()), message);
    }
  }
  // A feed of the largest size is read.
  std::string largest = feed("");
  largest.append(kMaxAppcastSize - largest.size(), ' ');
  EXPECT_TRUE(parseAppcast(largest).empty());
}

TEST(AppcastTest, VersionsCompareByRunsOfDigitsLettersAndSeparators) {
  const std::pair<std::string, std::string> ordered[] = {
      {"1.9", "1.10"},    {"1.0", "1.1"},      {"0.0.1", "0.1"},   {"1.0", "1.0.1"},
      {"1.0", "1.0.0"},   {"1.0b1", "1.0"},    {"1.0a1", "1.0b1"}, {"1.0b2", "1.0b10"},
      {"1.0b1", "1.0.1"}, {"1.0rc1", "1.0.0"}, {"9", "10"},        {"2", "18446744073709551616"},
      {"1.a", "1.0"},     {"1a", "1.a"},       {"a.1", "a1"},
  };
  for (const auto& [older, newer] : ordered) {
    EXPECT_EQ(compareVersions(older, newer), std::strong_ordering::less) << older << " < " << newer;
    EXPECT_EQ(compareVersions(newer, older), std::strong_ordering::greater) << newer;
  }
  for (const auto& [a, b] : {std::pair{"1.0", "1.0"}, {"007", "7"}, {"1.0-1", "1.0.1"}, {"", ""}}) {
    EXPECT_EQ(compareVersions(a, b), std::strong_ordering::equal) << a << " == " << b;
  }
}

TEST(AppcastTest, BestItemIsTheNewestAboveTheRunningVersion) {
  const AppcastItem::Enclosure archive{"https://zephro.example/z.zip", 1, "", ""};
  const std::vector<AppcastItem> items{item("9", archive), item("12", archive),
                                       item("10", archive)};
  for (const auto* running : {"9", "11"}) EXPECT_EQ(bestItem(items, running), items[1]);
  for (const auto* running : {"12", "12.1"}) EXPECT_EQ(bestItem(items, running), std::nullopt);
  EXPECT_EQ(bestItem({}, "1"), std::nullopt);
  // Information-only items are offered too: the driver shows them.
  std::vector<AppcastItem> withNews = items;
  withNews.push_back(item("13"));
  EXPECT_EQ(bestItem(withNews, "12"), withNews.back());
  // Of equal versions, the first in the feed.
  AppcastItem twin = item("12", archive);
  twin.title = "twin";
  EXPECT_EQ(bestItem({item("12", archive), twin}, "1")->title, "");
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

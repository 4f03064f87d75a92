#include "platform/update/Appcast.h"

#include <gtest/gtest.h>

#include "platform/update/VersionComparator.h"

namespace zephro::update {
namespace {

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

}  // namespace
}  // namespace zephro::update

#pragma once

#include <QByteArray>

#include "platform/codesign/Keys.h"
#include "platform/update/ArchiveSigner.h"
#include "tests/platform/update/TestArchive.h"
#include "tests/support/LocalHttpServer.h"

namespace zephro::update::testing {

// A one-item feed and its archive on a local server, signed as the release tool signs them.
class TestFeed {
 public:
  explicit TestFeed(std::filesystem::path folder) : file_(std::move(folder) / "made.tar.gz") {}

  [[nodiscard]] std::pair<QByteArray, std::string> pack(const std::vector<TestEntry>& tree) const {
    writeArchive(file_, tree);
    return {QByteArray::fromStdString(readFile(file_)),
            signArchive(file_, keys.secret).enclosureAttributes()};
  }

  void publish(const QByteArray& archive, const std::string& attributes,
               const std::string& version = "2.0", bool announceLength = true) {
    const QString path = QStringLiteral("/zephro.tar.gz");
    server.serve(path, archive, announceLength);
    server.serve(QStringLiteral("/appcast.xml"),
                 QByteArray::fromStdString(
                     R"(<rss xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">)"
                     "<channel><item><sparkle:version>" +
                     version + "</sparkle:version><enclosure url=\"" +
                     server.url(path).toString().toStdString() + "\" " + attributes +
                     "/></item></channel></rss>"));
  }
  void publish(const std::vector<TestEntry>& tree, const std::string& version = "2.0") {
    const auto [archive, attributes] = pack(tree);
    publish(archive, attributes, version);
  }

  [[nodiscard]] std::string url() const {
    return server.url(QStringLiteral("/appcast.xml")).toString().toStdString();
  }
  [[nodiscard]] std::vector<std::uint8_t> publicKey() const {
    return {keys.publicKey.begin(), keys.publicKey.end()};
  }

 private:
  codesign::KeyPair keys = codesign::KeyPair::generate();
  zephro::testing::LocalHttpServer server;
  std::filesystem::path file_;
};

}  // namespace zephro::update::testing

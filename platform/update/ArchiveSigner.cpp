#include "platform/update/ArchiveSigner.h"

#include <stdexcept>

#include "platform/update/ArchiveFile.h"
#include "platform/update/Base64.h"

namespace zephro::update {

std::string SignedArchive::enclosureAttributes() const {
  return "sparkle:edSignature=\"" + edSignature + "\" length=\"" + std::to_string(length) + "\"";
}

SignedArchive signArchive(const std::filesystem::path& archive, const codesign::SecretKey& key) {
  auto bytes = readArchive(archive);
  if (const Error* error = std::get_if<Error>(&bytes)) {
    throw std::runtime_error(error->localizedDescription());
  }
  const auto& content = std::get<std::vector<std::uint8_t>>(bytes);
  return {encodeBase64(key.sign(content)), content.size()};
}

}  // namespace zephro::update

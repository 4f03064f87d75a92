#include "platform/update/ArchiveVerifier.h"

#include <algorithm>

#include "platform/codesign/Keys.h"
#include "platform/update/ArchiveFile.h"
#include "platform/update/Base64.h"
#include "platform/update/UpdateError.h"

namespace zephro::update {

namespace {

Error signatureError(std::string description) {
  return updateError(UpdateErrorCode::signature, std::move(description));
}

}  // namespace

std::variant<std::vector<std::uint8_t>, Error> verifyArchive(
    const std::filesystem::path& archive, std::string_view edSignatureBase64,
    std::span<const std::uint8_t> publicKey) {
  if (edSignatureBase64.empty()) return signatureError("The update is not signed.");
  const auto signatureBytes = decodeBase64(edSignatureBase64);
  if (!signatureBytes || signatureBytes->size() != codesign::kSignatureSize) {
    return signatureError("The update's signature is not a base64 Ed25519 signature.");
  }
  if (publicKey.size() != codesign::kPublicKeySize) {
    return signatureError("The update signing key is not an Ed25519 public key.");
  }
  auto bytes = readArchive(archive);
  if (const Error* error = std::get_if<Error>(&bytes)) return *error;
  auto& content = std::get<std::vector<std::uint8_t>>(bytes);

  codesign::PublicKey key{};
  std::copy(publicKey.begin(), publicKey.end(), key.begin());
  codesign::Signature signature{};
  std::copy(signatureBytes->begin(), signatureBytes->end(), signature.begin());
  if (!codesign::verifySignature(key, content, signature)) {
    return signatureError("The update's signature is not valid; the archive was not opened.");
  }
  return std::move(content);
}

}  // namespace zephro::update

#include "platform/update/Base64.h"

#include <sodium.h>

#include "platform/codesign/Keys.h"

namespace zephro::update {

namespace {
constexpr int kVariant = sodium_base64_VARIANT_ORIGINAL;
}  // namespace

std::string encodeBase64(std::span<const std::uint8_t> bytes) {
  codesign::ensureSodium();
  std::string text(sodium_base64_encoded_len(bytes.size(), kVariant), '\0');
  sodium_bin2base64(text.data(), text.size(), bytes.data(), bytes.size(), kVariant);
  text.pop_back();  // the terminating NUL
  return text;
}

std::optional<std::vector<std::uint8_t>> decodeBase64(std::string_view text) {
  codesign::ensureSodium();
  std::vector<std::uint8_t> bytes(text.size() / 4 * 3 + 3);
  std::size_t length = 0;
  const char* end = nullptr;
  if (sodium_base642bin(bytes.data(), bytes.size(), text.data(), text.size(), " \t\r\n", &length,
                        &end, kVariant) != 0 ||
      end != text.data() + text.size()) {
    return std::nullopt;
  }
  bytes.resize(length);
  return bytes;
}

}  // namespace zephro::update

#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/error/Error.h"

namespace zephro::update {

// Reads the archive once and checks the detached Ed25519 signature (base64, the
// enclosure's edSignature) over those bytes against the configured public key, and
// returns the bytes that passed: they are what gets extracted, so the file is never read
// again. Nothing but this reads an archive before it has passed. The error, when there is
// one, says why: no signature, one that is not base64 of 64 bytes, a key that is not 32
// bytes, a signature that does not match (a changed byte, another key), or an archive
// that cannot be read or is over 512 MiB.
[[nodiscard]] std::variant<std::vector<std::uint8_t>, Error> verifyArchive(
    const std::filesystem::path& archive, std::string_view edSignatureBase64,
    std::span<const std::uint8_t> publicKey);

}  // namespace zephro::update

#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string_view>

#include "platform/error/Error.h"

namespace zephro::update {

// Checks the detached Ed25519 signature (base64, the enclosure's edSignature) over the
// whole archive against the configured public key. Nothing but this reads an archive
// before it has passed. The error, when there is one, says why: no signature, one that is
// not base64 of 64 bytes, a key that is not 32 bytes, a signature that does not match
// (a changed byte, another key), or an archive that cannot be read or is over 512 MiB.
[[nodiscard]] std::optional<Error> verifyArchive(const std::filesystem::path& archive,
                                                 std::string_view edSignatureBase64,
                                                 std::span<const std::uint8_t> publicKey);

}  // namespace zephro::update

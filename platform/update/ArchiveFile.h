#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <variant>
#include <vector>

#include "platform/error/Error.h"

namespace zephro::update {

// The largest update archive signed or verified. The signature covers the archive's
// bytes as one message, so the whole file is held in memory while it is checked.
inline constexpr std::uint64_t kMaxArchiveSize = std::uint64_t{512} * 1024 * 1024;

// The bytes of an archive, or why they cannot be had (missing, unreadable, too large).
[[nodiscard]] std::variant<std::vector<std::uint8_t>, Error> readArchive(
    const std::filesystem::path& path);

}  // namespace zephro::update

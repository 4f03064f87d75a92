#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zephro::update {

// Standard base64 with padding, the form feeds and the information dictionary use for
// keys and signatures.
[[nodiscard]] std::string encodeBase64(std::span<const std::uint8_t> bytes);
// Line breaks and spaces are skipped (long attributes get wrapped); anything else that is
// not base64 gives nothing.
[[nodiscard]] std::optional<std::vector<std::uint8_t>> decodeBase64(std::string_view text);

}  // namespace zephro::update

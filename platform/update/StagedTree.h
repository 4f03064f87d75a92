#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

#include "platform/error/Error.h"
#include "platform/update/AppcastItem.h"

namespace zephro::update {

// An install tree's information file, relative to the tree.
inline constexpr const char* kInfoFileInTree = "share/zephro/Info.json";

// Whether the staged tree is the release the feed offered. The feed is not signed but the
// archive is, so the version is taken from the tree itself: it must hold bin/zephro and an
// information file whose CFBundleVersion is the item's version and whose
// CFBundleShortVersionString (else its CFBundleVersion) is the item's display version, and
// that build must not be older than the running one. An old signed archive offered as a
// newer release is refused as a downgrade, any other difference as a mix-up.
[[nodiscard]] std::optional<Error> checkStagedTree(const std::filesystem::path& staged,
                                                   const AppcastItem& item,
                                                   std::string_view runningVersion);

}  // namespace zephro::update

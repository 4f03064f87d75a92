#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <filesystem>
#include <optional>

#include "platform/error/Error.h"

namespace zephro::update {

// The message of an update that finds the application in the system's hands.
inline constexpr const char* kSystemInstallMessage =
    "Zephro was installed by the system's package manager; update it there.";

// The install tree of the executable at `executable` (PREFIX/bin/zephro gives PREFIX), or
// nothing when it does not sit in a bin folder (a build tree, which is never replaced).
[[nodiscard]] std::optional<std::filesystem::path> installPrefixOf(
    const std::filesystem::path& executable);

// Where installTree keeps the tree it replaced: PREFIX.previous beside PREFIX.
[[nodiscard]] std::filesystem::path previousTreePath(const std::filesystem::path& prefix);

// Whether `user` may replace the tree at `prefix`: it is a real folder (no link) that the
// user owns and may write (owner write bit), in a folder the user may write. Ownership
// decides before permissions, so a tree that root installed counts as the system's even
// for root: package installs belong to root, and an update must never overwrite them.
[[nodiscard]] bool isUserWritablePrefix(const std::filesystem::path& prefix,
                                        uid_t user = ::geteuid());

// Puts the staged install tree (it must hold bin/zephro) in place of `prefix` by renames:
// PREFIX → PREFIX.previous (an older one is removed first), then staged → PREFIX; when the
// second rename fails the first is undone. A staged tree on another file system is first
// copied beside the prefix, so both renames stay on one. The error says what failed and
// whether the previous tree is back; a prefix that is not user-writable gives
// kSystemInstallMessage and changes nothing.
[[nodiscard]] std::optional<Error> installTree(const std::filesystem::path& staged,
                                               const std::filesystem::path& prefix);

// Removes PREFIX.previous, once the new tree has started; nothing there is no error.
[[nodiscard]] std::optional<Error> removePreviousTree(const std::filesystem::path& prefix);

}  // namespace zephro::update

#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>

#include "platform/update/InstallManifest.h"

namespace zephro::update {

// The message of an update that finds the application in the system's hands.
inline constexpr const char* kSystemInstallMessage =
    "Zephro was installed by the system's package manager; update it there.";

// The link in an updater-owned root that names the version that runs.
inline constexpr const char* kCurrentLinkName = "current";

// Where a running Zephro came from, which decides whether the updater may replace it.
// Only a version tree the updater laid out itself is replaced; every other kind is left
// exactly as it is, and the update says where to update instead.
struct Installation {
  enum class Kind {
    // ROOT/VERSION/bin/zephro in a tree that carries the updater's manifest, owned by the
    // user, with ROOT/current naming it.
    managed,
    // Such a tree, but ROOT/current names another version installed since it started.
    superseded,
    // A tree that belongs to another user: root's, from the package manager.
    package,
    // Not in a bin folder: a build tree.
    buildTree,
    // The user's own tree that the updater did not lay out: a prefix like ~/.local, an
    // unpacked tree without the manifest.
    foreign,
  };

  Kind kind = Kind::foreign;
  // The executable, links resolved.
  std::filesystem::path executable;
  // The folder above bin, or the executable's own folder in a build tree.
  std::filesystem::path tree;
  // The tree's manifest (managed and superseded only).
  std::optional<InstallManifest> manifest;

  [[nodiscard]] static Installation of(const std::filesystem::path& executable,
                                       uid_t user = ::geteuid());

  // The folder of version trees and the current link (managed and superseded only).
  [[nodiscard]] std::filesystem::path root() const { return tree.parent_path(); }
  // The path that stays valid across updates: ROOT/current/bin/NAME for an updater-owned
  // tree, the executable itself otherwise. Whatever outlives this process (a login item,
  // the relaunch) names this one.
  [[nodiscard]] std::filesystem::path launchPath() const;
  // For every kind but managed: why this copy is not replaced and where to update it.
  [[nodiscard]] std::string whereToUpdate() const;
};

// A real folder, not a link, that `user` owns.
[[nodiscard]] bool isOwnFolder(const std::filesystem::path& path, uid_t user = ::geteuid());

}  // namespace zephro::update

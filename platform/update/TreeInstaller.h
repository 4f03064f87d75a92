#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/error/Error.h"
#include "platform/update/Installation.h"

namespace zephro::update {

// The updater's own install: ROOT (~/.local/lib/zephro for a user) holds one folder per
// version, each marked with the manifest of what the updater wrote into it, and
// ROOT/current, a link to the version that runs. Switching that link by a rename is the
// one step that makes a version current, so an update that stops anywhere leaves one
// whole version current. Nothing outside ROOT is ever renamed or removed.

// Moves the staged tree to ROOT/VERSION, writes its manifest there (naming the version
// `current` named, which the new one removes once it runs) and switches ROOT/current to
// it. ROOT must be the user's own folder and `current` a link or absent; a ROOT/VERSION
// that the updater did not make is never replaced. A staged tree on another file system is
// first copied into ROOT. On failure what this call made is taken away again, and the
// error says what failed.
[[nodiscard]] std::optional<Error> installVersion(const std::filesystem::path& staged,
                                                  const std::filesystem::path& root,
                                                  const std::string& version);

// Once the running version has started: removes the version its manifest says it
// replaced, when that tree still carries the updater's manifest for that version, and
// then only what that manifest lists. Anything else, a file the user added there
// included, stays. Nothing to remove is no error; on an error it is tried again at the
// next launch.
[[nodiscard]] std::optional<Error> removeReplacedVersion(const Installation& running);

// Where a user's own install goes.
struct UserInstallLayout {
  std::filesystem::path root;    // the version trees and `current`
  std::filesystem::path binDir;  // where zephro and zephroctl are linked

  // ~/.local/lib/zephro and ~/.local/bin.
  [[nodiscard]] static UserInstallLayout inHome(const std::filesystem::path& home);
};

// What a first install did.
struct UserInstall {
  std::string version;
  std::filesystem::path tree;
  std::vector<std::filesystem::path> linked;     // links made in binDir
  std::vector<std::filesystem::path> leftAlone;  // names in binDir taken by something else
};

// The first install, from the unpacked release archive the executable runs from: copies
// the application's files (bin/zephro, bin/zephroctl, share/zephro and its notices in
// share/doc/zephro) as installVersion
// lays out an update, then links BIN/zephro and BIN/zephroctl to ROOT/current where those
// names are free. Only the application's own files are copied, so running it from a
// prefix such as /usr or ~/.local takes nothing else along.
[[nodiscard]] std::variant<UserInstall, Error> installForUser(
    const std::filesystem::path& executable, const UserInstallLayout& layout);

}  // namespace zephro::update

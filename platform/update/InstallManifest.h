#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/error/Error.h"

namespace zephro::update {

// The updater's mark on a tree it laid out: the version the tree holds and every file,
// link and folder it wrote there, relative to the tree. The updater removes a tree only
// when it carries one, and then only what it lists, so whatever else sits there (a file
// the user added, a tree the updater never made) stays.
struct InstallManifest {
  static constexpr std::string_view kFileName = "zephro-manifest.json";

  std::string version;
  // The version tree this one replaced, removed once this one has started.
  std::optional<std::string> replaces;
  std::vector<std::string> files;    // regular files and links, sorted
  std::vector<std::string> folders;  // sorted

  // Lists what `tree` holds now, without following links.
  [[nodiscard]] static std::variant<InstallManifest, Error> ofTree(
      const std::filesystem::path& tree, std::string version);
  // The manifest `tree` carries, or nothing when it has none, or one that is a link, too
  // large or not one the updater writes (a path that leaves the tree included).
  [[nodiscard]] static std::optional<InstallManifest> load(const std::filesystem::path& tree);
  // Writes the manifest into `tree`, replacing any earlier one atomically.
  [[nodiscard]] std::optional<Error> save(const std::filesystem::path& tree) const;

  friend bool operator==(const InstallManifest&, const InstallManifest&) = default;
};

// Whether a version can name a folder of its own beside the others: one plain path
// component that is not hidden (the updater keeps its temporary names hidden) and not
// "current".
[[nodiscard]] bool isVersionFolderName(std::string_view version);

}  // namespace zephro::update

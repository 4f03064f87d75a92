#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/bundle/InfoDictionary.h"
#include "platform/bundle/StringsTable.h"

namespace zephro::bundle {

// A folder of resources with string tables, either the application's resource root
// (tables in <code>.lproj/ subfolders) or one <code>.lproj folder itself (tables at its
// top level). Copies share one cache of parsed tables; lookups are thread-safe.
class Bundle {
 public:
  // preferredLanguages decide which lproj folder answers when the folder holds several
  // (the system's own choice among the localizations); developmentLanguage answers when
  // none of them fits.
  explicit Bundle(std::filesystem::path root, std::vector<std::string> preferredLanguages = {},
                  std::string developmentLanguage = "en");

  // A bundle over an existing folder, or nothing.
  [[nodiscard]] static std::optional<Bundle> atPath(const std::filesystem::path& folder);

  // The application's resources: the first candidate folder that holds an lproj folder.
  // Without one the bundle has no root and every lookup answers its key.
  [[nodiscard]] static Bundle main(std::vector<std::string> preferredLanguages);

  // Where the application's resources may live, in the order they are tried: next to the
  // executable, the install prefix relative to the executable, the source tree of a
  // development build, the configured install prefix.
  [[nodiscard]] static std::vector<std::filesystem::path> resourceRootCandidates();
  [[nodiscard]] static std::optional<std::filesystem::path> findResourceRoot(
      const std::vector<std::filesystem::path>& candidates);

  // The application's information dictionary: the file named by ZEPHRO_BUNDLE_INFO when
  // that is set, otherwise the first Info.json among infoFileCandidates(). No file, or a
  // broken one, gives an empty dictionary.
  [[nodiscard]] static InfoDictionary info();

  // Where Info.json may live, in the order they are tried: the resource root candidates,
  // with the build tree's generated resources in place of the source tree (the file is
  // made from a template at configure time).
  [[nodiscard]] static std::vector<std::filesystem::path> infoFileCandidates();
  [[nodiscard]] static std::optional<std::filesystem::path> findInfoFile(
      const std::vector<std::filesystem::path>& candidates);

  [[nodiscard]] const std::filesystem::path& bundlePath() const { return root_; }

  // The names of the lproj folders without their extension, sorted.
  [[nodiscard]] std::vector<std::string> localizations() const;

  // The localization whose tables answer lookups, or nothing when the bundle has none.
  [[nodiscard]] std::optional<std::string> preferredLocalization() const;

  // The path of "<name>.<type>" in the bundle, or in its preferred lproj folder.
  [[nodiscard]] std::optional<std::filesystem::path> pathForResource(std::string_view name,
                                                                     std::string_view type) const;
  // The path of "<name>.<type>" in the bundle's folder `subdirectory` (one plain name).
  [[nodiscard]] std::optional<std::filesystem::path> pathForResource(
      std::string_view name, std::string_view type, std::string_view subdirectory) const;

  // The text for key in the table (empty name = "Localizable"). A key missing from the table
  // answers value, or the key itself when value is empty.
  [[nodiscard]] std::string localizedString(std::string_view key, std::string_view value = {},
                                            std::string_view table = {}) const;

 private:
  struct Cache {
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<const StringsTable>, std::less<>> tables;
  };

  [[nodiscard]] std::shared_ptr<const StringsTable> table(std::string_view name) const;

  std::filesystem::path root_;
  std::vector<std::string> preferredLanguages_;
  std::string developmentLanguage_;
  std::shared_ptr<Cache> cache_;
};

}  // namespace zephro::bundle

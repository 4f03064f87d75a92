#include "platform/bundle/Bundle.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <system_error>

namespace zephro::bundle {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kLprojExtension = ".lproj";
constexpr std::string_view kDefaultTable = "Localizable";
constexpr std::string_view kInfoFileName = "Info.json";

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

bool isDirectory(const fs::path& path) {
  std::error_code ignored;
  return !path.empty() && fs::is_directory(path, ignored);
}

std::vector<std::string> lprojNames(const fs::path& root) {
  std::vector<std::string> names;
  if (!isDirectory(root)) return names;
  std::error_code error;
  for (fs::directory_iterator it(root, error), end; !error && it != end; it.increment(error)) {
    const std::string file = it->path().filename().string();
    if (file.size() > kLprojExtension.size() && file.ends_with(kLprojExtension) &&
        isDirectory(it->path())) {
      names.push_back(file.substr(0, file.size() - kLprojExtension.size()));
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The operating system writes de_DE where language tags say de-DE.
std::string asLanguageTag(std::string code) {
  std::replace(code.begin(), code.end(), '_', '-');
  return code;
}

// Tries each preferred language, then the same language with its last subtag dropped
// (pt-BR, then pt), before falling back to the development language.
std::optional<std::string> bestLocalization(const std::vector<std::string>& available,
                                            const std::vector<std::string>& preferred,
                                            const std::string& developmentLanguage) {
  if (available.empty()) return std::nullopt;
  const auto find = [&](std::string_view code) -> std::optional<std::string> {
    for (const std::string& name : available) {
      if (equalsIgnoringCase(name, code)) return name;
    }
    return std::nullopt;
  };
  for (const std::string& language : preferred) {
    std::string tag = asLanguageTag(language);
    while (!tag.empty()) {
      if (auto found = find(tag)) return found;
      const auto dash = tag.rfind('-');
      if (dash == std::string::npos) break;
      tag.resize(dash);
    }
  }
  if (auto found = find(developmentLanguage)) return found;
  return available.front();
}

fs::path executableDirectory() {
  std::error_code error;
  const fs::path executable = fs::read_symlink("/proc/self/exe", error);
  return error ? fs::path() : executable.parent_path();
}

}  // namespace

Bundle::Bundle(fs::path root, std::vector<std::string> preferredLanguages,
               std::string developmentLanguage)
    : root_(std::move(root)),
      preferredLanguages_(std::move(preferredLanguages)),
      developmentLanguage_(std::move(developmentLanguage)),
      cache_(std::make_shared<Cache>()) {}

std::optional<Bundle> Bundle::atPath(const fs::path& folder) {
  if (!isDirectory(folder)) return std::nullopt;
  return Bundle(folder);
}

Bundle Bundle::main(std::vector<std::string> preferredLanguages) {
  return Bundle(findResourceRoot(resourceRootCandidates()).value_or(fs::path()),
                std::move(preferredLanguages));
}

std::vector<fs::path> Bundle::resourceRootCandidates() {
  std::vector<fs::path> candidates;
  const fs::path executableDir = executableDirectory();
  if (!executableDir.empty()) {
    candidates.push_back(executableDir / "resources");
    candidates.push_back(executableDir.parent_path() / ZEPHRO_INSTALL_DATADIR / "zephro");
  }
  candidates.emplace_back(ZEPHRO_SOURCE_RESOURCES);
  candidates.emplace_back(ZEPHRO_INSTALLED_RESOURCES);
  return candidates;
}

std::optional<fs::path> Bundle::findResourceRoot(const std::vector<fs::path>& candidates) {
  for (const fs::path& candidate : candidates) {
    if (!lprojNames(candidate).empty()) return candidate;
  }
  return std::nullopt;
}

InfoDictionary Bundle::info() {
  // Read once at start-up by the few callers that need it; not a hot path.
  if (const char* override = std::getenv("ZEPHRO_BUNDLE_INFO"); override && *override) {
    return InfoDictionary::load(override);
  }
  const auto file = findInfoFile(infoFileCandidates());
  return file ? InfoDictionary::load(*file) : InfoDictionary();
}

std::vector<fs::path> Bundle::infoFileCandidates() {
  std::vector<fs::path> candidates;
  for (const fs::path& root : resourceRootCandidates()) {
    candidates.push_back(
        root == fs::path(ZEPHRO_SOURCE_RESOURCES) ? fs::path(ZEPHRO_GENERATED_RESOURCES) : root);
  }
  return candidates;
}

std::optional<fs::path> Bundle::findInfoFile(const std::vector<fs::path>& candidates) {
  std::error_code ignored;
  for (const fs::path& candidate : candidates) {
    const fs::path file = candidate / kInfoFileName;
    if (!candidate.empty() && fs::is_regular_file(file, ignored)) return file;
  }
  return std::nullopt;
}

std::vector<std::string> Bundle::localizations() const {
  return lprojNames(root_);
}

std::optional<std::string> Bundle::preferredLocalization() const {
  return bestLocalization(localizations(), preferredLanguages_, developmentLanguage_);
}

namespace {

// Names come from callers and tables; never let one climb out of the bundle.
bool isPlainName(std::string_view name) {
  return !name.empty() && name.find('/') == std::string_view::npos && name != "." && name != "..";
}

std::string fileName(std::string_view name, std::string_view type) {
  std::string file(name);
  if (!type.empty()) file.append(".").append(type);
  return file;
}

}  // namespace

std::optional<fs::path> Bundle::pathForResource(std::string_view name,
                                                std::string_view type) const {
  const std::string file = fileName(name, type);
  if (root_.empty() || name.empty() || !isPlainName(file)) return std::nullopt;
  std::error_code ignored;
  if (fs::exists(root_ / file, ignored)) return root_ / file;
  if (const auto localization = preferredLocalization()) {
    const fs::path localized = root_ / (*localization + std::string(kLprojExtension)) / file;
    if (fs::exists(localized, ignored)) return localized;
  }
  return std::nullopt;
}

std::optional<fs::path> Bundle::pathForResource(std::string_view name, std::string_view type,
                                                std::string_view subdirectory) const {
  const std::string file = fileName(name, type);
  if (root_.empty() || name.empty() || !isPlainName(file) || !isPlainName(subdirectory)) {
    return std::nullopt;
  }
  const fs::path path = root_ / subdirectory / file;
  std::error_code ignored;
  return fs::exists(path, ignored) ? std::optional<fs::path>(path) : std::nullopt;
}

std::string Bundle::localizedString(std::string_view key, std::string_view value,
                                    std::string_view table) const {
  const auto strings = this->table(table.empty() ? kDefaultTable : table);
  if (const std::string* found = strings->find(key)) return *found;
  return std::string(value.empty() ? key : value);
}

std::shared_ptr<const StringsTable> Bundle::table(std::string_view name) const {
  const std::lock_guard lock(cache_->mutex);
  if (const auto it = cache_->tables.find(name); it != cache_->tables.end()) return it->second;
  const auto file = pathForResource(name, "strings");
  auto loaded =
      std::make_shared<const StringsTable>(file ? StringsTable::load(*file) : StringsTable());
  cache_->tables.emplace(std::string(name), loaded);
  return loaded;
}

}  // namespace zephro::bundle

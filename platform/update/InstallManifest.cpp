#include "platform/update/InstallManifest.h"

#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <system_error>

#include "platform/update/UpdateError.h"

namespace zephro::update {

namespace {

namespace fs = std::filesystem;

// Ten thousand entries with long paths stay far below this.
constexpr std::uintmax_t kMaxManifestSize = std::uintmax_t{8} * 1024 * 1024;

// A path inside the tree: relative, with no empty, "." or ".." component.
bool isInsidePath(std::string_view path) {
  if (path.empty() || path.front() == '/') return false;
  std::size_t start = 0;
  while (start <= path.size()) {
    const auto slash = std::min(path.find('/', start), path.size());
    const auto part = path.substr(start, slash - start);
    if (part.empty() || part == "." || part == "..") return false;
    start = slash + 1;
  }
  return true;
}

std::optional<std::vector<std::string>> insidePaths(const nlohmann::json& json, const char* key) {
  const auto it = json.find(key);
  if (it == json.end() || !it->is_array()) return std::nullopt;
  std::vector<std::string> paths;
  for (const auto& item : *it) {
    if (!item.is_string() || !isInsidePath(item.get<std::string>())) return std::nullopt;
    paths.push_back(item.get<std::string>());
  }
  return paths;
}

}  // namespace

bool isVersionFolderName(std::string_view version) {
  return !version.empty() && version.size() <= 128 && version.front() != '.' &&
         version.find('/') == std::string_view::npos && version != "current";
}

std::variant<InstallManifest, Error> InstallManifest::ofTree(const fs::path& tree,
                                                             std::string version) {
  InstallManifest manifest;
  manifest.version = std::move(version);
  std::error_code error;
  fs::recursive_directory_iterator it(tree, error);
  for (const fs::recursive_directory_iterator end; !error && it != end; it.increment(error)) {
    const auto relative = it->path().lexically_relative(tree).generic_string();
    if (relative == kFileName) continue;
    const auto status = it->symlink_status(error);
    if (error) break;
    if (fs::is_directory(status)) {
      manifest.folders.push_back(relative);
    } else if (fs::is_regular_file(status) || fs::is_symlink(status)) {
      manifest.files.push_back(relative);
    } else {
      return installationError("The update's " + relative +
                               " is not a file, a folder or a link. Nothing was changed.");
    }
  }
  if (error) {
    return installationError("The staged update " + tree.string() +
                             " could not be listed: " + error.message() + ". Nothing was changed.");
  }
  std::sort(manifest.files.begin(), manifest.files.end());
  std::sort(manifest.folders.begin(), manifest.folders.end());
  return manifest;
}

std::optional<InstallManifest> InstallManifest::load(const fs::path& tree) {
  const fs::path file = tree / kFileName;
  struct stat info {};
  if (::lstat(file.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
      static_cast<std::uintmax_t>(info.st_size) > kMaxManifestSize) {
    return std::nullopt;
  }
  std::ifstream in(file, std::ios::binary);
  const auto json = nlohmann::json::parse(in, nullptr, /*allow_exceptions=*/false);
  if (!json.is_object()) return std::nullopt;
  InstallManifest manifest;
  const auto version = json.find("version");
  if (version == json.end() || !version->is_string() ||
      !isVersionFolderName(version->get<std::string>())) {
    return std::nullopt;
  }
  manifest.version = version->get<std::string>();
  if (const auto replaces = json.find("replaces"); replaces != json.end()) {
    if (!replaces->is_string() || !isVersionFolderName(replaces->get<std::string>())) {
      return std::nullopt;
    }
    manifest.replaces = replaces->get<std::string>();
  }
  auto files = insidePaths(json, "files");
  auto folders = insidePaths(json, "folders");
  if (!files || !folders) return std::nullopt;
  manifest.files = std::move(*files);
  manifest.folders = std::move(*folders);
  return manifest;
}

std::optional<Error> InstallManifest::save(const fs::path& tree) const {
  nlohmann::json json = {{"version", version}, {"files", files}, {"folders", folders}};
  if (replaces) json["replaces"] = *replaces;
  const fs::path file = tree / kFileName;
  fs::path temporary = file;
  temporary += ".new";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << json.dump(1) << '\n';
    if (!out.flush()) {
      return installationError("The manifest " + file.string() + " could not be written.");
    }
  }
  std::error_code error;
  fs::rename(temporary, file, error);
  if (error) {
    fs::remove(temporary, error);
    return installationError("The manifest " + file.string() + " could not be written.");
  }
  return std::nullopt;
}

}  // namespace zephro::update

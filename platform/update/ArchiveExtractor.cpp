#include "platform/update/ArchiveExtractor.h"

#include <archive.h>
#include <archive_entry.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/update/UpdateError.h"

namespace zephro::update {

namespace {

namespace fs = std::filesystem;

// libarchive's own guards on top of ours: never through an existing link, never "..",
// never replace what is already there. Absolute paths are refused by our checks, since
// every entry is written under the (absolute) staging folder.
constexpr int kWriteFlags = ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_SECURE_SYMLINKS |
                            ARCHIVE_EXTRACT_SECURE_NODOTDOT | ARCHIVE_EXTRACT_NO_OVERWRITE;

using Reader = std::unique_ptr<archive, decltype(&archive_read_free)>;
using Writer = std::unique_ptr<archive, decltype(&archive_write_free)>;

// The components of a path inside the folder, "" and "." dropped.
std::vector<std::string> componentsOf(std::string_view path) {
  std::vector<std::string> components;
  std::size_t start = 0;
  while (start <= path.size()) {
    const auto slash = std::min(path.find('/', start), path.size());
    const std::string_view part = path.substr(start, slash - start);
    if (!part.empty() && part != ".") components.emplace_back(part);
    start = slash + 1;
  }
  return components;
}

std::string joined(const std::vector<std::string>& components) {
  std::string path;
  for (const std::string& part : components) {
    if (!path.empty()) path += '/';
    path += part;
  }
  return path;
}

bool hasDotDot(const std::vector<std::string>& components) {
  return std::find(components.begin(), components.end(), "..") != components.end();
}

std::optional<std::string> typeProblem(mode_t type) {
  switch (type) {
    case AE_IFREG:
    case AE_IFDIR:
    case AE_IFLNK:
      return std::nullopt;
    case AE_IFCHR:
      return "it is a character device";
    case AE_IFBLK:
      return "it is a block device";
    case AE_IFIFO:
      return "it is a FIFO";
    case AE_IFSOCK:
      return "it is a socket";
    default:
      return "it is not a file, a folder or a link";
  }
}

// A link at `entry` (components) to `target` stays inside when its target is relative and
// only climbs first, never above the folder: "../lib/x" from "bin/x", not "a/../../x".
// Every link's own folders are real folders (libarchive writes through no link), so a
// leading climb ends on a real folder inside, and descending through links that obey the
// same rule cannot leave either.
std::optional<std::string> symlinkProblem(const std::vector<std::string>& entry,
                                          std::string_view target) {
  if (target.empty()) return "its link has no target";
  if (target.front() == '/') return "its link points outside the folder";
  const auto parts = componentsOf(target);
  std::size_t climbs = 0;
  while (climbs < parts.size() && parts[climbs] == "..") ++climbs;
  const std::vector<std::string> rest(parts.begin() + static_cast<std::ptrdiff_t>(climbs),
                                      parts.end());
  if (hasDotDot(rest) || climbs > entry.size() - 1) return "its link points outside the folder";
  return std::nullopt;
}

// A hard link must name a regular file already extracted, reached through real folders.
std::optional<std::string> hardlinkProblem(const fs::path& staging,
                                           const std::vector<std::string>& target) {
  if (target.empty() || hasDotDot(target)) return "its link points outside the folder";
  fs::path path = staging;
  for (std::size_t i = 0; i < target.size(); ++i) {
    path /= target[i];
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return "its link names nothing extracted before it";
    const bool last = i + 1 == target.size();
    if (last ? !S_ISREG(info.st_mode) : !S_ISDIR(info.st_mode)) {
      return "its link does not name a file extracted before it";
    }
  }
  return std::nullopt;
}

// "512 MiB" for whole mebibytes, else the bytes.
std::string sizeText(std::uint64_t bytes) {
  constexpr std::uint64_t kMebibyte = std::uint64_t{1024} * 1024;
  if (bytes % kMebibyte == 0) return std::to_string(bytes / kMebibyte) + " MiB";
  return std::to_string(bytes) + " bytes";
}

class Extraction {
 public:
  Extraction(fs::path staging, std::uint64_t archiveSize, const ExtractionProgress& progress,
             const ExtractionLimits& limits)
      : staging_(std::move(staging)),
        archiveSize_(archiveSize),
        progress_(progress),
        limits_(limits) {}

  std::optional<Error> run(std::span<const std::uint8_t> archive) {
    archive_read_support_filter_gzip(reader_.get());
    archive_read_support_filter_xz(reader_.get());
    archive_read_support_filter_bzip2(reader_.get());
    archive_read_support_filter_zstd(reader_.get());
    archive_read_support_format_tar(reader_.get());
    archive_read_support_format_zip(reader_.get());
    if (archive_read_open_memory(reader_.get(), archive.data(), archive.size()) != ARCHIVE_OK) {
      return unreadable();
    }
    archive_write_disk_set_options(writer_.get(), kWriteFlags);
    while (true) {
      archive_entry* entry = nullptr;
      const int status = archive_read_next_header(reader_.get(), &entry);
      if (status == ARCHIVE_EOF) break;
      if (status < ARCHIVE_WARN) return unreadable();
      if (++entries_ > limits_.maxEntries) return tooMany();
      if (auto error = extract(entry)) return error;
      report();
    }
    // Folder times and modes are set last, once nothing more is written into them.
    if (archive_write_close(writer_.get()) != ARCHIVE_OK) return failed("", writer_.get());
    if (progress_ && reported_ < 1.0) progress_(1.0);
    return std::nullopt;
  }

 private:
  std::optional<Error> extract(archive_entry* entry) {
    const char* rawName = archive_entry_pathname(entry);
    const std::string name = rawName ? rawName : "";
    if (name.empty()) return refused(name, "it has no name");
    if (name.front() == '/') return refused(name, "its path is absolute");
    const auto components = componentsOf(name);
    if (hasDotDot(components)) return refused(name, "its path leaves the folder");
    const auto type = archive_entry_filetype(entry);
    const char* hardlink = archive_entry_hardlink(entry);
    if (components.empty()) {
      // "./": the folder itself, which is ours.
      if (type == AE_IFDIR) return std::nullopt;
      return refused(name, "it is not a folder but names the folder itself");
    }
    if (!hardlink) {
      if (auto problem = typeProblem(type)) return refused(name, *problem);
    }
    if (type == AE_IFLNK && !hardlink) {
      const char* target = archive_entry_symlink(entry);
      if (auto problem = symlinkProblem(components, target ? target : "")) {
        return refused(name, *problem);
      }
    }
    if (hardlink) {
      const auto target = componentsOf(hardlink);
      if (hardlink[0] == '/') return refused(name, "its link points outside the folder");
      if (auto problem = hardlinkProblem(staging_, target)) return refused(name, *problem);
      archive_entry_set_hardlink(entry, (staging_ / joined(target)).c_str());
    }
    const std::string relative = joined(components);
    const bool isFolder = type == AE_IFDIR && !hardlink;
    if (const auto seen = seen_.find(relative); seen != seen_.end()) {
      if (!(seen->second && isFolder)) return refused(name, "its path comes twice");
    }
    seen_[relative] = isFolder;

    // A declared size past the limit is refused before anything of it is written.
    if (archive_entry_size_is_set(entry) != 0 &&
        static_cast<std::uint64_t>(std::max<la_int64_t>(0, archive_entry_size(entry))) >
            limits_.maxBytes - unpacked_) {
      return tooLarge();
    }
    archive_entry_set_pathname(entry, (staging_ / relative).c_str());
    archive_entry_set_perm(entry, archive_entry_perm(entry) & 0777);
    if (archive_write_header(writer_.get(), entry) < ARCHIVE_WARN) {
      return failed(name, writer_.get());
    }
    if (auto error = copyData(name)) return error;
    if (archive_write_finish_entry(writer_.get()) < ARCHIVE_WARN) {
      return failed(name, writer_.get());
    }
    return std::nullopt;
  }

  std::optional<Error> copyData(const std::string& name) {
    while (true) {
      const void* block = nullptr;
      std::size_t size = 0;
      la_int64_t offset = 0;
      const int status = archive_read_data_block(reader_.get(), &block, &size, &offset);
      if (status == ARCHIVE_EOF) return std::nullopt;
      if (status < ARCHIVE_WARN) return failed(name, reader_.get());
      if (size > limits_.maxBytes - unpacked_) return tooLarge();
      unpacked_ += size;
      if (archive_write_data_block(writer_.get(), block, size, offset) < ARCHIVE_WARN) {
        return failed(name, writer_.get());
      }
      report();
    }
  }

  void report() {
    if (!progress_ || archiveSize_ == 0) return;
    const auto consumed = static_cast<double>(archive_filter_bytes(reader_.get(), -1));
    const double fraction = std::min(1.0, consumed / static_cast<double>(archiveSize_));
    if (fraction <= reported_) return;
    reported_ = fraction;
    progress_(fraction);
  }

  [[nodiscard]] Error unreadable() const {
    return updateError(
        UpdateErrorCode::extraction,
        std::string("The update archive could not be read: ") + errorText(reader_.get()) + ".");
  }

  [[nodiscard]] Error tooMany() const {
    return updateError(UpdateErrorCode::extraction, "The update archive has more than " +
                                                        std::to_string(limits_.maxEntries) +
                                                        " entries; it was refused.");
  }

  [[nodiscard]] Error tooLarge() const {
    return updateError(UpdateErrorCode::extraction, "The update archive unpacks to more than " +
                                                        sizeText(limits_.maxBytes) +
                                                        "; it was refused.");
  }

  static Error refused(const std::string& name, const std::string& reason) {
    return updateError(UpdateErrorCode::extraction,
                       "The update archive's entry \"" + name + "\" was refused: " + reason + ".");
  }

  static Error failed(const std::string& name, archive* source) {
    if (name.empty()) {
      return updateError(
          UpdateErrorCode::extraction,
          std::string("The update could not be extracted: ") + errorText(source) + ".");
    }
    return updateError(UpdateErrorCode::extraction,
                       "The update archive's entry \"" + name +
                           "\" could not be extracted: " + errorText(source) + ".");
  }

  static std::string errorText(archive* source) {
    const char* text = archive_error_string(source);
    return text ? text : "unknown error";
  }

  fs::path staging_;
  std::uint64_t archiveSize_;
  const ExtractionProgress& progress_;
  const ExtractionLimits& limits_;
  std::uint64_t entries_ = 0;
  std::uint64_t unpacked_ = 0;  // bytes written so far, at most limits_.maxBytes
  Reader reader_{archive_read_new(), &archive_read_free};
  Writer writer_{archive_write_disk_new(), &archive_write_free};
  std::map<std::string, bool> seen_;  // extracted paths; true for folders
  double reported_ = 0;
};

}  // namespace

std::optional<Error> extractArchive(std::span<const std::uint8_t> archive, const fs::path& staging,
                                    const ExtractionProgress& progress,
                                    const ExtractionLimits& limits) {
  std::error_code error;
  if (!fs::create_directory(staging, error) || error) {
    return updateError(UpdateErrorCode::extraction,
                       "The staging folder " + staging.string() + " could not be created: " +
                           (error ? error.message() : "it already exists") + ".");
  }
  // libarchive refuses to write through any link on the way, so the folder's own path
  // must have none.
  const fs::path folder = fs::canonical(staging, error);
  std::optional<Error> failure;
  if (error) {
    failure = updateError(UpdateErrorCode::extraction,
                          "The staging folder " + staging.string() +
                              " could not be resolved: " + error.message() + ".");
  } else {
    failure = Extraction(folder, archive.size(), progress, limits).run(archive);
  }
  if (failure) fs::remove_all(staging, error);
  return failure;
}

}  // namespace zephro::update

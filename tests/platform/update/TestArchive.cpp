#include "TestArchive.h"

#include <archive.h>
#include <archive_entry.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <array>
#include <fstream>
#include <memory>
#include <stdexcept>

namespace zephro::update::testing {

void writeArchive(const std::filesystem::path& file, const std::vector<TestEntry>& entries) {
  const std::unique_ptr<archive, decltype(&archive_write_free)> writer(archive_write_new(),
                                                                       &archive_write_free);
  archive* const a = writer.get();
  const auto check = [a](la_ssize_t status, la_ssize_t expected = ARCHIVE_OK) {
    if (status != expected && status != ARCHIVE_WARN) {
      throw std::runtime_error(archive_error_string(a));
    }
  };
  check(archive_write_set_format_filter_by_ext(a, file.c_str()));
  check(archive_write_open_filename(a, file.c_str()));
  // Indexed by TestEntry::Type; a hard link is written as a file naming the one it shares.
  constexpr std::array<mode_t, 6> kFileTypes{AE_IFREG, AE_IFDIR, AE_IFLNK,
                                             AE_IFREG, AE_IFCHR, AE_IFIFO};
  for (const TestEntry& item : entries) {
    const std::unique_ptr<archive_entry, decltype(&archive_entry_free)> entry(archive_entry_new(),
                                                                              &archive_entry_free);
    archive_entry* const e = entry.get();
    archive_entry_set_pathname(e, item.path.c_str());
    archive_entry_set_filetype(e, kFileTypes.at(static_cast<std::size_t>(item.type)));
    archive_entry_set_perm(e, item.permissions);
    archive_entry_set_mtime(e, 1700000000, 0);
    if (item.type == TestEntry::Type::symlink) archive_entry_set_symlink(e, item.link.c_str());
    if (item.type == TestEntry::Type::hardlink) archive_entry_set_hardlink(e, item.link.c_str());
    if (item.type == TestEntry::Type::characterDevice) archive_entry_set_rdev(e, makedev(1, 3));
    archive_entry_set_size(e, static_cast<la_int64_t>(item.content.size()));
    check(archive_write_header(a, e));
    if (!item.content.empty()) {
      const auto size = static_cast<la_ssize_t>(item.content.size());
      check(archive_write_data(a, item.content.data(), item.content.size()), size);
    }
  }
  check(archive_write_close(a));
}

std::vector<TestEntry> releaseTree(const std::string& version, const std::string& program) {
  return {TestEntry::file("bin/zephro", program, 0755),
          TestEntry::file("share/zephro/Info.json", R"({"CFBundleShortVersionString": ")" +
                                                        version + R"(", "CFBundleVersion": ")" +
                                                        version + R"("})")};
}

void writeText(const std::filesystem::path& file, const std::string& text) {
  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << text;
}

}  // namespace zephro::update::testing

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

namespace {

void check(archive* writer, int status) {
  if (status < ARCHIVE_WARN) throw std::runtime_error(archive_error_string(writer));
}

// Indexed by TestEntry::Type; a hard link is written as a file naming the one it shares.
constexpr std::array<mode_t, 6> kFileTypes{AE_IFREG, AE_IFDIR, AE_IFLNK,
                                           AE_IFREG, AE_IFCHR, AE_IFIFO};

}  // namespace

void writeArchive(const std::filesystem::path& file, ArchiveFormat format,
                  const std::vector<TestEntry>& entries) {
  const std::unique_ptr<archive, decltype(&archive_write_free)> writer(archive_write_new(),
                                                                       &archive_write_free);
  archive* const a = writer.get();
  switch (format) {
    case ArchiveFormat::tarGz:
      check(a, archive_write_add_filter_gzip(a));
      check(a, archive_write_set_format_pax_restricted(a));
      break;
    case ArchiveFormat::tarXz:
      check(a, archive_write_add_filter_xz(a));
      check(a, archive_write_set_format_pax_restricted(a));
      break;
    case ArchiveFormat::zip:
      check(a, archive_write_set_format_zip(a));
      break;
  }
  check(a, archive_write_open_filename(a, file.c_str()));
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
    check(a, archive_write_header(a, e));
    if (!item.content.empty()) {
      const auto written = archive_write_data(a, item.content.data(), item.content.size());
      if (written != static_cast<la_ssize_t>(item.content.size())) {
        throw std::runtime_error(archive_error_string(a));
      }
    }
  }
  check(a, archive_write_close(a));
}

std::vector<TestEntry> releaseTree(const std::string& version, const std::string& program,
                                   const std::string& shortVersion) {
  return {TestEntry::file("bin/zephro", program, 0755),
          TestEntry::file("share/zephro/Info.json",
                          R"({"CFBundleShortVersionString": ")" +
                              (shortVersion.empty() ? version : shortVersion) +
                              R"(", "CFBundleVersion": ")" + version + R"("})")};
}

std::vector<std::uint8_t> readBytes(const std::filesystem::path& file) {
  const std::string text = readFile(file);
  return {text.begin(), text.end()};
}

void writeText(const std::filesystem::path& file, const std::string& text) {
  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << text;
}

}  // namespace zephro::update::testing

#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/posix/FileDescriptor.h"

namespace zephro::smc {

// What reading an attribute gave: its text, or the errno of the failure.
struct AttributeText {
  int error = 0;
  std::string text;
};

// A driver's device directory, opened once. Attributes are looked up inside it by name
// without following links, and only regular files are read or written: a sysfs attribute
// is one, so anything else is not the driver's.
class SysfsDirectory {
 public:
  // A sysfs attribute holds at most a page; ours are numbers and short labels.
  static constexpr std::size_t kMaxAttributeSize = 256;

  // Opens the directory (following links in the path, which is settled at start-up);
  // openError() says why when it cannot.
  explicit SysfsDirectory(std::filesystem::path path);

  [[nodiscard]] const std::filesystem::path& path() const { return path_; }
  [[nodiscard]] bool isOpen() const { return fd_.valid(); }
  [[nodiscard]] int openError() const { return openError_; }

  // Whether the directory has an entry of that name, whatever it is.
  [[nodiscard]] bool has(const std::string& name) const;
  // Whether the entry is an attribute the driver takes writes to. A driver gives an
  // attribute without a store function no write bit, and the kernel then refuses every
  // write, root's included, so the mode says what the driver allows.
  [[nodiscard]] bool isWritable(const std::string& name) const;
  // EFBIG for an attribute longer than kMaxAttributeSize.
  [[nodiscard]] AttributeText read(const std::string& name) const;
  // Writes the text in one call, as sysfs needs; 0 or the errno.
  [[nodiscard]] int write(const std::string& name, std::string_view text) const;

 private:
  [[nodiscard]] int openAttribute(const std::string& name, int flags, FileDescriptor& file) const;

  std::filesystem::path path_;
  FileDescriptor fd_;
  int openError_ = 0;
};

// The text without the whitespace around it (sysfs ends every value with a newline).
[[nodiscard]] std::string_view trimmed(std::string_view text);

}  // namespace zephro::smc

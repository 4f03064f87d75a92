#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>

#include "platform/error/Error.h"

namespace zephro::update {

// Called with the fraction of the archive's bytes read so far, rising, ending at 1.
using ExtractionProgress = std::function<void(double fraction)>;

// What an archive may unpack to, past which it is refused: a signed archive is still
// bounded, so that a release made by mistake cannot fill the disk.
struct ExtractionLimits {
  std::uint64_t maxEntries = 10000;
  std::uint64_t maxBytes = std::uint64_t{512} * 1024 * 1024;
};

// Unpacks the bytes of a verified .tar, .tar.gz, .tar.xz, .tar.bz2, .tar.zst or .zip
// archive into `staging`, a folder that must not exist yet and is created here. It takes
// the bytes whose signature was checked, never a path, so a file changed on disk since
// cannot be what is unpacked. Entries are refused when their path is absolute or has a
// ".." component, when a symbolic link could point outside the folder or a hard link names
// anything but a file already extracted, when they are devices, FIFOs or sockets, when a
// path comes twice, or once the archive passes the limits; nothing is ever written through
// a link extracted earlier. Set-user-ID and similar bits are dropped. On any refusal or
// failure the staging folder is removed and the error names the entry.
[[nodiscard]] std::optional<Error> extractArchive(std::span<const std::uint8_t> archive,
                                                  const std::filesystem::path& staging,
                                                  const ExtractionProgress& progress = {},
                                                  const ExtractionLimits& limits = {});

}  // namespace zephro::update

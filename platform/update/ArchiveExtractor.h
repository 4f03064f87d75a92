#pragma once

#include <filesystem>
#include <functional>
#include <optional>

#include "platform/error/Error.h"

namespace zephro::update {

// Called with the fraction of the archive's bytes read so far, rising, ending at 1.
using ExtractionProgress = std::function<void(double fraction)>;

// Unpacks a (verified) .tar, .tar.gz, .tar.xz, .tar.bz2, .tar.zst or .zip archive into
// `staging`, a folder that must not exist yet and is created here. Entries are refused
// when their path is absolute or has a ".." component, when a symbolic link could point
// outside the folder or a hard link names anything but a file already extracted, when
// they are devices, FIFOs or sockets, or when a path comes twice; nothing is ever written
// through a link extracted earlier. Set-user-ID and similar bits are dropped. On any
// refusal or failure the staging folder is removed and the error names the entry.
[[nodiscard]] std::optional<Error> extractArchive(const std::filesystem::path& archive,
                                                  const std::filesystem::path& staging,
                                                  const ExtractionProgress& progress = {});

}  // namespace zephro::update

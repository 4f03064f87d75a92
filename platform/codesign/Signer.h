#pragma once

#include <filesystem>
#include <string>

#include "platform/codesign/Keys.h"

namespace zephro::codesign {

// Signs an executable in place: any signature it already carries is replaced,
// and the file is rewritten through a temporary file and a rename, so a running
// copy of it is not disturbed and a failure leaves the old file intact.
// Throws std::runtime_error (or std::invalid_argument for a bad identifier or a
// team key that the certificate does not name).
void signFile(const std::filesystem::path& path, const std::string& identifier,
              const SecretKey& teamKey, const TeamCertificate& certificate);

}  // namespace zephro::codesign

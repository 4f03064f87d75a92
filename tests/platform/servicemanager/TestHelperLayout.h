#pragma once

#include <filesystem>

#include "platform/servicemanager/DevelopmentServiceManager.h"

namespace zephro::testing {

// The build's helper on the emulated MacBookPro16,1, trusting the build's development anchor.
[[nodiscard]] DevelopmentLayout testHelperLayout(const std::filesystem::path& runtimeDir,
                                                 const std::filesystem::path& socketPath);

}  // namespace zephro::testing

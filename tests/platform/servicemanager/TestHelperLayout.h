#pragma once

#include <filesystem>

#include "platform/servicemanager/DevelopmentServiceManager.h"

namespace zephro::testing {

// The build's own com.zephro.helper on the emulated two-fan MacBookPro16,1, trusting the
// build's development anchor, as the development service manager runs it in tests.
[[nodiscard]] DevelopmentLayout testHelperLayout(const std::filesystem::path& runtimeDir,
                                                 const std::filesystem::path& socketPath);

}  // namespace zephro::testing

#include "tests/platform/servicemanager/TestHelperLayout.h"

#include "tests/support/TempDir.h"

namespace zephro::testing {

DevelopmentLayout testHelperLayout(const std::filesystem::path& runtimeDir,
                                   const std::filesystem::path& socketPath) {
  DevelopmentLayout layout;
  layout.helperExecutable = HELPER_BINARY;
  layout.machineProfile = sourcePath("platform/smc/machines/macbookpro16-1.json");
  layout.anchorKey = ZEPHRO_DEV_ANCHOR_KEY;
  layout.runtimeDir = runtimeDir;
  layout.socketPath = socketPath;
  // Generous: the helper may start slowly under the sanitizers on a busy machine.
  layout.startTimeout = std::chrono::seconds(120);
  return layout;
}

}  // namespace zephro::testing

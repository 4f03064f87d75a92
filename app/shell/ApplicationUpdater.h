#pragma once

#include <filesystem>
#include <functional>
#include <memory>

#include "platform/update/UserDriver.h"

namespace zephro {

// The updater the application runs: configured from its information dictionary,
// replacing the install tree the running executable came from, and relaunching
// through `quit`, the application's normal way out.
[[nodiscard]] std::unique_ptr<update::Updater> makeApplicationUpdater(
    std::shared_ptr<update::UserDriver> driver, update::UpdaterDelegate& delegate,
    std::function<void(std::function<void()> afterQuit)> quit);

// Once a relaunched application runs, the tree it replaced is no longer needed.
void removeReplacedInstallTree();

}  // namespace zephro

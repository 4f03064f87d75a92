#pragma once

#include <filesystem>
#include <functional>
#include <iosfwd>
#include <memory>

#include "platform/update/UserDriver.h"

namespace zephro {

// The updater the application runs: configured from its information dictionary, updating
// the running executable's tree when the updater laid that tree out, and relaunching
// through `quit`, the application's normal way out.
[[nodiscard]] std::unique_ptr<update::Updater> makeApplicationUpdater(
    std::shared_ptr<update::UserDriver> driver, update::UpdaterDelegate& delegate,
    std::function<void(std::function<void()> afterQuit)> quit);

// Once a relaunched application runs, the version it replaced is no longer needed.
void removeReplacedInstallTree();

// The path of the running executable that stays valid across updates, for whatever
// outlives this process (the login item).
[[nodiscard]] std::filesystem::path applicationLaunchPath(const std::filesystem::path& executable);

// `zephro --install-for-user`: lays out the release tree the executable runs from as the
// user's own self-updating install in ~/.local/lib/zephro, links it into ~/.local/bin and
// says what it did. Returns the exit status.
int installForUser(const std::filesystem::path& executable, std::ostream& out, std::ostream& err);

}  // namespace zephro

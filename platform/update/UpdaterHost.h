#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace zephro::update {

// What the updater needs from the application it updates.
struct UpdaterHost {
  // The running version (CFBundleVersion), compared with the feed's items.
  std::string runningVersion;
  // The install tree of the running application, replaced by an update.
  std::filesystem::path installPrefix;
  // The program to start once the new tree is in place, relative to the prefix.
  std::filesystem::path relaunchProgram = "bin/zephro";
  // Downloads and staged trees; nothing else in it is kept.
  std::filesystem::path workDirectory;
  // The updater's own memory: the permission answer and the highest version offered.
  std::filesystem::path stateFile;
  // Ends the application through its normal quit path (the fans go back to the
  // firmware first) and then runs `afterQuit` on the way out.
  std::function<void(std::function<void()> afterQuit)> quit;
  // Starts a program detached from this process.
  std::function<void(const std::vector<std::string>& argv)> launch;
};

}  // namespace zephro::update

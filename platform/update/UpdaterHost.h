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
  // The running executable: an update replaces its tree only when the updater laid that
  // tree out (see Installation), and relaunches the same program from the new one.
  std::filesystem::path executable;
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

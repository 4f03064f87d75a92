#include "platform/update/StagedTree.h"

#include <sys/stat.h>

#include <compare>
#include <string>

#include "platform/bundle/InfoDictionary.h"
#include "platform/update/UpdateError.h"
#include "platform/update/VersionComparator.h"

namespace zephro::update {

namespace {

Error mismatch(std::string description) {
  return updateError(UpdateErrorCode::versionMismatch, std::move(description));
}

std::string named(const std::string& display, const std::string& build) {
  return "version " + display + " (build " + build + ")";
}

}  // namespace

std::optional<Error> checkStagedTree(const std::filesystem::path& staged, const AppcastItem& item,
                                     std::string_view runningVersion) {
  struct stat program {};
  if (::lstat((staged / "bin" / "zephro").c_str(), &program) != 0 || !S_ISREG(program.st_mode)) {
    return updateError(UpdateErrorCode::installation,
                       "The update holds no bin/zephro; it is not an install tree of Zephro. "
                       "Nothing was changed.");
  }
  const auto info = bundle::InfoDictionary::load(staged / kInfoFileInTree);
  const auto build = info.string("CFBundleVersion");
  if (!build || build->empty()) {
    return mismatch(std::string("The update holds no ") + kInfoFileInTree +
                    " with its version; it was refused.");
  }
  const std::string display = info.string("CFBundleShortVersionString").value_or(*build);
  if (std::is_lt(compareVersions(*build, runningVersion))) {
    return updateError(UpdateErrorCode::downgrade, "The update holds " + named(display, *build) +
                                                       ", older than the running build " +
                                                       std::string(runningVersion) +
                                                       "; it was refused as a downgrade.");
  }
  if (*build != item.versionString || display != item.displayVersionString) {
    return mismatch("The update holds " + named(display, *build) + ", not " +
                    named(item.displayVersionString, item.versionString) +
                    " that the feed offers; it was refused.");
  }
  return std::nullopt;
}

}  // namespace zephro::update

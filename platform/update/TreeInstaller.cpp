#include "platform/update/TreeInstaller.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <system_error>
#include <variant>

#include "platform/log/Format.h"
#include "platform/update/UpdateError.h"

namespace zephro::update {

namespace {

namespace fs = std::filesystem;

Error installationError(std::string description) {
  return updateError(UpdateErrorCode::installation, std::move(description));
}

// The prefix without a trailing separator, so that appending ".previous" names a sibling.
fs::path normalized(const fs::path& prefix) {
  fs::path path = fs::absolute(prefix).lexically_normal();
  if (!path.has_filename() && path.has_parent_path() && path != path.root_path()) {
    path = path.parent_path();
  }
  return path;
}

fs::path sibling(const fs::path& prefix, const std::string& suffix) {
  const fs::path path = normalized(prefix);
  return path.parent_path() / (path.filename().string() + suffix);
}

bool ownedAndWritable(const struct stat& info, uid_t user) {
  return info.st_uid == user && (info.st_mode & S_IWUSR) != 0;
}

std::string errnoText() {
  return format::errorText(errno);
}

// A staged tree on another file system cannot be renamed into place; copy it next to the
// prefix first. Returns the tree to rename, or the error.
std::variant<fs::path, Error> besidePrefix(const fs::path& staged, const fs::path& prefix) {
  struct stat from {};
  struct stat to {};
  if (::stat(staged.c_str(), &from) != 0 || ::stat(prefix.parent_path().c_str(), &to) != 0) {
    return installationError("The staged update " + staged.string() +
                             " could not be examined: " + errnoText() + ".");
  }
  if (from.st_dev == to.st_dev) return staged;
  const fs::path incoming = sibling(prefix, ".incoming");
  std::error_code error;
  fs::remove_all(incoming, error);
  if (!error) {
    fs::copy(staged, incoming, fs::copy_options::recursive | fs::copy_options::copy_symlinks,
             error);
  }
  if (error) {
    const std::string reason = error.message();
    fs::remove_all(incoming, error);
    return installationError("The staged update could not be copied to " + incoming.string() +
                             ": " + reason + ". Nothing was changed.");
  }
  return incoming;
}

}  // namespace

std::optional<fs::path> installPrefixOf(const fs::path& executable) {
  const fs::path folder = executable.parent_path();
  if (folder.filename() != "bin" || !folder.has_parent_path()) return std::nullopt;
  return folder.parent_path();
}

fs::path previousTreePath(const fs::path& prefix) {
  return sibling(prefix, ".previous");
}

bool isUserWritablePrefix(const fs::path& prefix, uid_t user) {
  const fs::path path = normalized(prefix);
  struct stat tree {};
  if (::lstat(path.c_str(), &tree) != 0 || !S_ISDIR(tree.st_mode)) return false;
  if (!ownedAndWritable(tree, user)) return false;
  // The renames happen in the folder that holds the tree.
  struct stat parent {};
  if (::stat(path.parent_path().c_str(), &parent) != 0 || !S_ISDIR(parent.st_mode)) return false;
  return ownedAndWritable(parent, user) ||
         (user == ::geteuid() &&
          ::faccessat(AT_FDCWD, path.parent_path().c_str(), W_OK | X_OK, AT_EACCESS) == 0);
}

std::optional<Error> installTree(const fs::path& staged, const fs::path& prefix) {
  const fs::path target = normalized(prefix);
  if (!isUserWritablePrefix(target)) return installationError(kSystemInstallMessage);
  struct stat program {};
  if (::lstat((staged / "bin" / "zephro").c_str(), &program) != 0 || !S_ISREG(program.st_mode)) {
    return installationError(
        "The update holds no bin/zephro; it is not an install tree of "
        "Zephro. Nothing was changed.");
  }
  auto source = besidePrefix(staged, target);
  if (const Error* error = std::get_if<Error>(&source)) return *error;
  const fs::path& tree = std::get<fs::path>(source);

  const fs::path previous = previousTreePath(target);
  std::error_code error;
  fs::remove_all(previous, error);
  if (error) {
    return installationError("The older previous version in " + previous.string() +
                             " could not be removed: " + error.message() +
                             ". Nothing was changed.");
  }
  if (std::rename(target.c_str(), previous.c_str()) != 0) {
    return installationError("The running version could not be moved to " + previous.string() +
                             ": " + errnoText() + ". Nothing was changed.");
  }
  if (std::rename(tree.c_str(), target.c_str()) != 0) {
    const std::string reason = errnoText();
    if (tree != staged) fs::remove_all(tree, error);
    if (std::rename(previous.c_str(), target.c_str()) == 0) {
      return installationError("The new version could not be moved to " + target.string() + ": " +
                               reason + ". The running version was put back.");
    }
    return installationError("The new version could not be moved to " + target.string() + ": " +
                             reason + ", and the running version could not be put back: " +
                             errnoText() + ". It is in " + previous.string() + ".");
  }
  return std::nullopt;
}

std::optional<Error> removePreviousTree(const fs::path& prefix) {
  const fs::path previous = previousTreePath(prefix);
  std::error_code error;
  fs::remove_all(previous, error);
  if (error) {
    return installationError("The previous version in " + previous.string() +
                             " could not be removed: " + error.message() + ".");
  }
  return std::nullopt;
}

}  // namespace zephro::update

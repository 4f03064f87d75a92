#include "platform/update/TreeInstaller.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <system_error>

#include "platform/bundle/InfoDictionary.h"
#include "platform/log/Format.h"
#include "platform/posix/FileDescriptor.h"
#include "platform/update/StagedTree.h"
#include "platform/update/UpdateError.h"

namespace zephro::update {

namespace {

namespace fs = std::filesystem;

// The application's files in an install tree: the first install copies these and nothing
// else.
constexpr const char* kApplicationPaths[] = {"bin/zephro", "bin/zephroctl", "share/zephro",
                                             "share/doc/zephro"};
constexpr const char* kLinkedPrograms[] = {"zephro", "zephroctl"};

std::string errnoText() {
  return format::errorText(errno);
}

// Takes away a folder this call made, and says so in the error when that fails too.
Error removingMade(const Error& error, const fs::path& made) {
  std::error_code failed;
  fs::remove_all(made, failed);
  if (!failed) return error;
  return installationError(error.localizedDescription() + " " + made.string() +
                           " is left over: " + failed.message() + ".");
}

// The folder below `base` that `parts` (all but the last `skip`) name, opened without
// following any link; invalid when one of them is missing or is not a real folder.
FileDescriptor openFolderBelow(int base, const std::vector<std::string>& parts, std::size_t skip) {
  FileDescriptor folder(::fcntl(base, F_DUPFD_CLOEXEC, 0));
  for (std::size_t i = 0; i + skip < parts.size() && folder; ++i) {
    folder = FileDescriptor(
        ::openat(folder.get(), parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  }
  return folder;
}

// Removes one listed entry of the tree open as `tree`: a file or link, or a folder once it
// is empty. What is missing, or is now reached through a link or of another type, is no
// longer what the updater wrote and is left. Returns the failure, if any.
std::optional<std::string> removeListed(int tree, const std::string& relative, bool folder) {
  std::vector<std::string> parts;
  for (const auto& part : fs::path(relative)) parts.push_back(part.string());
  const FileDescriptor parent = openFolderBelow(tree, parts, 1);
  if (!parent) return std::nullopt;
  const char* name = parts.back().c_str();
  struct stat info {};
  if (::fstatat(parent.get(), name, &info, AT_SYMLINK_NOFOLLOW) != 0) return std::nullopt;
  if (folder) {
    if (!S_ISDIR(info.st_mode)) return std::nullopt;
    if (::unlinkat(parent.get(), name, AT_REMOVEDIR) != 0 && errno != ENOTEMPTY &&
        errno != EEXIST) {
      return relative + ": " + errnoText();
    }
    return std::nullopt;
  }
  if (!S_ISREG(info.st_mode) && !S_ISLNK(info.st_mode)) return std::nullopt;
  if (::unlinkat(parent.get(), name, 0) != 0) return relative + ": " + errnoText();
  return std::nullopt;
}

// Removes what the manifest lists, the manifest last so that a failure is retried, then
// the tree itself if nothing else is left in it.
std::optional<Error> removeTree(const fs::path& tree, const InstallManifest& manifest) {
  const FileDescriptor folder(
      ::open(tree.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!folder) {
    return installationError("The version in " + tree.string() +
                             " could not be opened: " + errnoText() + ".");
  }
  std::optional<std::string> problem;
  const auto note = [&problem](std::optional<std::string> failure) {
    if (failure && !problem) problem = std::move(failure);
  };
  for (const std::string& file : manifest.files) note(removeListed(folder.get(), file, false));
  // Sorted, so in reverse every folder comes before the folders that hold it.
  for (auto it = manifest.folders.rbegin(); it != manifest.folders.rend(); ++it) {
    note(removeListed(folder.get(), *it, true));
  }
  if (!problem) note(removeListed(folder.get(), std::string(InstallManifest::kFileName), false));
  if (problem) {
    return installationError("The version in " + tree.string() +
                             " could not be removed: " + *problem + ".");
  }
  if (::rmdir(tree.c_str()) != 0 && errno != ENOTEMPTY && errno != EEXIST) {
    return installationError("The folder " + tree.string() +
                             " could not be removed: " + errnoText() + ".");
  }
  return std::nullopt;
}

Error undoing(const Error& error, const fs::path& target, const InstallManifest& manifest) {
  if (const auto failed = removeTree(target, manifest)) {
    return installationError(error.localizedDescription() + " " + failed->localizedDescription());
  }
  return error;
}

std::optional<Error> rootProblem(const fs::path& root) {
  if (!isOwnFolder(root)) {
    return installationError("The install folder " + root.string() +
                             " is not a folder of the user's own. Nothing was changed.");
  }
  struct stat current {};
  if (::lstat((root / kCurrentLinkName).c_str(), &current) == 0 && !S_ISLNK(current.st_mode)) {
    return installationError((root / kCurrentLinkName).string() +
                             " is not the updater's link. Nothing was changed.");
  }
  return std::nullopt;
}

// The version ROOT/current names, when it names a tree the updater laid out.
std::optional<std::string> currentVersion(const fs::path& root) {
  std::error_code error;
  const std::string name = fs::read_symlink(root / kCurrentLinkName, error).string();
  if (error || !isVersionFolderName(name)) return std::nullopt;
  const auto manifest = InstallManifest::load(root / name);
  if (!manifest || manifest->version != name) return std::nullopt;
  return name;
}

// ROOT/VERSION must be free. A tree of that version that the updater laid out and that is
// not current (an update installed but never started) is its own to replace.
std::optional<Error> clearTarget(const fs::path& target, const std::string& version) {
  struct stat info {};
  if (::lstat(target.c_str(), &info) != 0) return std::nullopt;
  const auto manifest = InstallManifest::load(target);
  if (!manifest || manifest->version != version || !isOwnFolder(target)) {
    return installationError(target.string() +
                             " is in the way: the updater did not install it. Nothing was "
                             "changed.");
  }
  if (auto failed = removeTree(target, *manifest)) return failed;
  if (::lstat(target.c_str(), &info) == 0) {
    return installationError(target.string() +
                             " holds files the updater did not install. Nothing was changed.");
  }
  return std::nullopt;
}

std::variant<fs::path, Error> madeFolder(const fs::path& root) {
  std::string pattern = (root / ".incoming-XXXXXX").string();
  // mkdtemp makes it private; the tree it becomes is as readable as any installed program.
  if (::mkdtemp(pattern.data()) == nullptr || ::chmod(pattern.c_str(), 0755) != 0) {
    return installationError("No folder could be made in " + root.string() + ": " + errnoText() +
                             ". Nothing was changed.");
  }
  return fs::path(pattern);
}

bool renameNew(const fs::path& from, const fs::path& to) {
  return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0;
}

// Renames the staged tree to the target, never over anything. From another file system
// it is copied into ROOT first, so that the last step is still one rename.
std::optional<Error> moveInto(const fs::path& staged, const fs::path& root,
                              const fs::path& target) {
  if (renameNew(staged, target)) return std::nullopt;
  if (errno != EXDEV) {
    return installationError("The update could not be moved to " + target.string() + ": " +
                             errnoText() + ". Nothing was changed.");
  }
  auto made = madeFolder(root);
  if (const Error* error = std::get_if<Error>(&made)) return *error;
  const fs::path& incoming = std::get<fs::path>(made);
  std::error_code error;
  fs::copy(staged, incoming, fs::copy_options::recursive | fs::copy_options::copy_symlinks, error);
  if (!error && !renameNew(incoming, target))
    error = std::error_code(errno, std::generic_category());
  if (error) {
    return removingMade(installationError("The update could not be copied to " + target.string() +
                                          ": " + error.message() + ". Nothing was changed."),
                        incoming);
  }
  return std::nullopt;
}

std::optional<Error> switchCurrent(const fs::path& root, const std::string& version) {
  const fs::path next = root / ".current.new";
  struct stat info {};
  if (::lstat(next.c_str(), &info) == 0 &&
      (!S_ISLNK(info.st_mode) || ::unlink(next.c_str()) != 0)) {
    return installationError(next.string() + " is in the way.");
  }
  if (::symlink(version.c_str(), next.c_str()) != 0) {
    return installationError("The link " + next.string() + " could not be made: " + errnoText() +
                             ".");
  }
  if (std::rename(next.c_str(), (root / kCurrentLinkName).c_str()) != 0) {
    const std::string reason = errnoText();
    ::unlink(next.c_str());
    return installationError((root / kCurrentLinkName).string() + " could not be switched to " +
                             version + ": " + reason + ".");
  }
  return std::nullopt;
}

std::optional<Error> copyApplication(const fs::path& tree, const fs::path& staging) {
  for (const char* relative : kApplicationPaths) {
    const fs::path from = tree / relative;
    std::error_code error;
    if (!fs::exists(fs::symlink_status(from, error))) continue;
    const fs::path to = staging / relative;
    fs::create_directories(to.parent_path(), error);
    if (!error) {
      fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks, error);
    }
    if (error) {
      return installationError(from.string() + " could not be copied: " + error.message() + ".");
    }
  }
  return std::nullopt;
}

void linkPrograms(const fs::path& tree, const UserInstallLayout& layout, UserInstall& install) {
  for (const char* program : kLinkedPrograms) {
    std::error_code error;
    if (!fs::exists(tree / "bin" / program, error)) continue;
    const fs::path name = layout.binDir / program;
    const fs::path target = layout.root / kCurrentLinkName / "bin" / program;
    const auto status = fs::symlink_status(name, error);
    if (fs::exists(status)) {
      if (!fs::is_symlink(status) || fs::read_symlink(name, error) != target) {
        install.leftAlone.push_back(name);
      }
      continue;
    }
    fs::create_directories(layout.binDir, error);
    if (::symlink(target.c_str(), name.c_str()) == 0) {
      install.linked.push_back(name);
    } else {
      install.leftAlone.push_back(name);
    }
  }
}

}  // namespace

std::optional<Error> installVersion(const fs::path& staged, const fs::path& root,
                                    const std::string& version) {
  if (!isVersionFolderName(version)) {
    return installationError("The version \"" + version + "\" cannot name a folder in " +
                             root.string() + ". Nothing was changed.");
  }
  if (auto problem = rootProblem(root)) return problem;
  const auto current = currentVersion(root);
  if (current == version) {
    return installationError("Zephro " + version + " is installed in " + root.string() +
                             " already. Nothing was changed.");
  }
  auto listing = InstallManifest::ofTree(staged, version);
  if (const Error* error = std::get_if<Error>(&listing)) return *error;
  auto manifest = std::get<InstallManifest>(std::move(listing));
  const fs::path target = root / version;
  if (auto problem = clearTarget(target, version)) return problem;
  manifest.replaces = current;
  if (auto problem = moveInto(staged, root, target)) return problem;
  if (auto problem = manifest.save(target)) return undoing(*problem, target, manifest);
  if (auto problem = switchCurrent(root, version)) return undoing(*problem, target, manifest);
  return std::nullopt;
}

std::optional<Error> removeReplacedVersion(const Installation& running) {
  if (running.kind != Installation::Kind::managed || !running.manifest ||
      !running.manifest->replaces) {
    return std::nullopt;
  }
  const std::string& replaced = *running.manifest->replaces;
  const fs::path tree = running.root() / replaced;
  if (replaced != running.manifest->version && isOwnFolder(tree)) {
    const auto manifest = InstallManifest::load(tree);
    if (manifest && manifest->version == replaced) {
      if (auto problem = removeTree(tree, *manifest)) return problem;
    }
  }
  InstallManifest done = *running.manifest;
  done.replaces.reset();
  return done.save(running.tree);
}

UserInstallLayout UserInstallLayout::inHome(const fs::path& home) {
  return {home / ".local" / "lib" / "zephro", home / ".local" / "bin"};
}

std::variant<UserInstall, Error> installForUser(const fs::path& executable,
                                                const UserInstallLayout& layout) {
  const auto running = Installation::of(executable);
  if (running.kind == Installation::Kind::managed ||
      running.kind == Installation::Kind::superseded) {
    return installationError("Zephro in " + running.tree.string() +
                             " was installed by its updater already and updates itself.");
  }
  if (running.kind == Installation::Kind::buildTree) {
    return installationError(
        "Zephro installs itself only from an unpacked release archive (its bin/zephro).");
  }
  const auto info = bundle::InfoDictionary::load(running.tree / kInfoFileInTree);
  const std::string version = info.string("CFBundleVersion").value_or("");
  if (version.empty()) {
    return installationError(running.tree.string() + " holds no " + kInfoFileInTree +
                             " with a version; it is not a release of Zephro.");
  }
  std::error_code error;
  fs::create_directories(layout.root, error);
  if (error) {
    return installationError(layout.root.string() + " could not be made: " + error.message() + ".");
  }
  auto made = madeFolder(layout.root);
  if (const Error* failed = std::get_if<Error>(&made)) return *failed;
  const fs::path& staging = std::get<fs::path>(made);
  auto problem = copyApplication(running.tree, staging);
  if (!problem) problem = installVersion(staging, layout.root, version);
  if (problem) return removingMade(*problem, staging);

  UserInstall install{version, layout.root / version, {}, {}};
  linkPrograms(install.tree, layout, install);
  return install;
}

}  // namespace zephro::update

#include "platform/update/Installation.h"

#include <sys/stat.h>

#include <algorithm>
#include <system_error>

namespace zephro::update {

namespace {

namespace fs = std::filesystem;

bool lists(const InstallManifest& manifest, const std::string& file) {
  return std::binary_search(manifest.files.begin(), manifest.files.end(), file);
}

}  // namespace

bool isOwnFolder(const fs::path& path, uid_t user) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == user;
}

Installation Installation::of(const fs::path& executable, uid_t user) {
  Installation installation;
  std::error_code error;
  installation.executable = fs::canonical(executable, error);
  if (error) installation.executable = fs::absolute(executable, error).lexically_normal();
  const fs::path folder = installation.executable.parent_path();
  if (folder.filename() != "bin" || !folder.has_parent_path()) {
    installation.kind = Kind::buildTree;
    installation.tree = folder;
    return installation;
  }
  installation.tree = folder.parent_path();
  struct stat tree {};
  if (::lstat(installation.tree.c_str(), &tree) == 0 && tree.st_uid != user) {
    installation.kind = Kind::package;
    return installation;
  }
  auto manifest = InstallManifest::load(installation.tree);
  const std::string program = "bin/" + installation.executable.filename().string();
  if (!manifest || manifest->version != installation.tree.filename().string() ||
      !lists(*manifest, program) || !isOwnFolder(installation.tree, user) ||
      !isOwnFolder(installation.root(), user)) {
    installation.kind = Kind::foreign;
    return installation;
  }
  const fs::path current = fs::read_symlink(installation.root() / kCurrentLinkName, error);
  installation.kind = !error && current == manifest->version ? Kind::managed : Kind::superseded;
  installation.manifest = std::move(manifest);
  return installation;
}

fs::path Installation::launchPath() const {
  if (kind != Kind::managed && kind != Kind::superseded) return executable;
  return root() / kCurrentLinkName / "bin" / executable.filename();
}

std::string Installation::whereToUpdate() const {
  switch (kind) {
    case Kind::managed:
      return {};
    case Kind::superseded:
      return "Another version of Zephro was installed in " + root().string() +
             " after this one started; quit Zephro and start it again.";
    case Kind::package:
      return kSystemInstallMessage;
    case Kind::buildTree:
      return "Zephro runs from the build tree " + tree.string() +
             "; update it by building a newer version there.";
    case Kind::foreign:
      return "Zephro in " + tree.string() +
             " was not installed by its updater, which replaces only the copies it installed "
             "itself; update it the way it was installed.";
  }
  return {};
}

}  // namespace zephro::update

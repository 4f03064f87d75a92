#include "platform/codesign/TrustAnchor.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "platform/log/Format.h"

namespace zephro::codesign {

TrustAnchor TrustAnchor::fromFile(const std::filesystem::path& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    throw std::runtime_error(path.string() + ": cannot open: " + format::errorText(errno));
  }
  if (info.st_uid != 0 && info.st_uid != ::geteuid()) {
    throw std::runtime_error(path.string() + ": refusing an anchor key owned by uid " +
                             std::to_string(info.st_uid));
  }
  if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    throw std::runtime_error(path.string() +
                             ": refusing an anchor key writable by group or others");
  }
  return TrustAnchor(readPublicKeyFile(path));
}

std::filesystem::path defaultAnchorKeyPath() {
  return ZEPHRO_ANCHOR_KEY_PATH;
}

}  // namespace zephro::codesign

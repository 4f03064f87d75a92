#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "platform/codesign/AuditToken.h"
#include "platform/codesign/Requirement.h"
#include "platform/codesign/Status.h"
#include "platform/codesign/TrustAnchor.h"
#include "platform/posix/FileDescriptor.h"

namespace zephro::codesign {

// A code object: an executable file held open, and for a running guest the
// process that runs it. The file is the inode the process was started from, so
// a path replaced after start does not change what is checked.
class Code {
 public:
  struct Guest {
    pid_t pid;
    FileDescriptor pidfd;
    std::uint64_t startTime;
  };

  Code(FileDescriptor file, std::optional<Guest> guest)
      : file_(std::move(file)), guest_(std::move(guest)) {}

  [[nodiscard]] int fileDescriptor() const { return file_.get(); }
  // The running process, or nothing for code made from a path.
  [[nodiscard]] const std::optional<Guest>& guest() const { return guest_; }

 private:
  FileDescriptor file_;
  std::optional<Guest> guest_;
};

// Stand-in for SecCodeCopyGuestWithAttributes with an audit token: opens the
// executable that the token's process runs, then confirms through the pidfd that
// the process is still alive and still the one the token pinned.
// errSecCSNoSuchCode when it is gone or was never pinned.
[[nodiscard]] OSStatus copyGuestWithAttributes(const AuditToken& token,
                                               std::unique_ptr<Code>& code);

// Stand-in for SecStaticCodeCreateWithPath. errSecCSStaticCodeNotFound when the
// path does not name a readable regular file.
[[nodiscard]] OSStatus staticCodeCreateWithPath(const std::filesystem::path& path,
                                                std::unique_ptr<Code>& code);

// Our executables are far below this; a larger file is refused before any of it
// is hashed, so that nobody can make a check cost unbounded time.
inline constexpr std::uint64_t kMaxCodeSize = ZEPHRO_MAX_CODE_SIZE;

// What one check may cost.
struct CheckLimits {
  std::uint64_t maxCodeSize = kMaxCodeSize;
  std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
};

// Stand-in for SecCodeCheckValidity: the signature is intact (errSecCSUnsigned,
// errSecCSSignatureFailed, errSecCSSignatureUnsupported otherwise) and satisfies
// every clause of the requirement (errSecCSReqFailed otherwise). The clauses are
// checked on the trailer before the content is hashed, so a file nobody we trust
// signed costs one small signature check, whatever its size. A running guest
// must also not be traced nor have been started with LD_PRELOAD, LD_LIBRARY_PATH
// or LD_AUDIT (errSecCSReqFailed), and must still be alive (errSecCSGuestInvalid).
// A file above the size limit is errSecCSSignatureFailed, a check past the
// deadline errSecCSCancelled.
[[nodiscard]] OSStatus checkValidity(const Code& code, const Requirement& requirement,
                                     const TrustAnchor& anchor, const CheckLimits& limits = {});

// What a valid signature says, for display. Only the signature's integrity is
// checked here, not who certified it.
struct SigningInformation {
  std::string identifier;
  std::string teamID;
};
[[nodiscard]] OSStatus copySigningInformation(const Code& code, SigningInformation& information);

}  // namespace zephro::codesign

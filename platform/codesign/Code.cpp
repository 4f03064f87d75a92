#include "platform/codesign/Code.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "platform/codesign/SignatureTrailer.h"
#include "platform/posix/Process.h"

namespace zephro::codesign {
namespace {

// Environment variables through which the dynamic loader runs foreign code
// inside a process before its own code starts.
constexpr std::array<std::string_view, 3> kInjectingVariables = {"LD_PRELOAD", "LD_LIBRARY_PATH",
                                                                 "LD_AUDIT"};
constexpr std::size_t kMaxEnvironmentSize = std::size_t{16} * 1024 * 1024;

std::string procPath(pid_t pid, std::string_view entry) {
  return "/proc/" + std::to_string(pid) + "/" + std::string(entry);
}

bool exceedsSize(int fd, std::uint64_t maxSize) {
  struct stat info {};
  return ::fstat(fd, &info) == 0 && static_cast<std::uint64_t>(info.st_size) > maxSize;
}

// Reads the trailer of a file within the size limit; cheap, whatever the file's size.
OSStatus readSizedTrailer(const Code& code, SignatureTrailer& trailer, std::uint64_t& contentLength,
                          const CheckLimits& limits) {
  if (exceedsSize(code.fileDescriptor(), limits.maxCodeSize)) return errSecCSSignatureFailed;
  return readTrailer(code.fileDescriptor(), trailer, contentLength);
}

// Hashes the content and checks the team key's signature over it and the trailer.
OSStatus verifyContent(const Code& code, const SignatureTrailer& trailer,
                       std::uint64_t contentLength, const CheckLimits& limits) {
  SignatureTrailer::Digest digest{};
  if (const OSStatus status =
          digestContent(code.fileDescriptor(), contentLength, digest, limits.deadline);
      status != errSecSuccess) {
    return status;
  }
  const auto message = trailer.codeMessage(contentLength, digest);
  return codesign::verifySignature(trailer.certificate.teamKey, message, trailer.codeSignature)
             ? errSecSuccess
             : errSecCSSignatureFailed;
}

bool satisfies(const SignatureTrailer& trailer, const Requirement::Clause& clause,
               const TrustAnchor& anchor) {
  using Kind = Requirement::Clause::Kind;
  switch (clause.kind) {
    case Kind::anchorGeneric:
      return trailer.certificate.isIssuedBy(anchor.key());
    case Kind::identifier:
      return trailer.identifier == clause.value;
    case Kind::leafOrganizationalUnit:
      return trailer.certificate.teamID == clause.value;
  }
  return false;
}

// TracerPid of /proc/PID/status; false when it cannot be read.
bool readTracerPid(pid_t pid, long& tracer) {
  std::ifstream in(procPath(pid, "status"));
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("TracerPid:", 0) == 0) {
      try {
        tracer = std::stol(line.substr(10));
        return true;
      } catch (const std::exception&) {
        return false;
      }
    }
  }
  return false;
}

// Whether the environment the process was started with names a loader variable
// that injects code; true (unsafe) when it cannot be read.
bool startedWithInjection(pid_t pid) {
  std::ifstream in(procPath(pid, "environ"), std::ios::binary);
  if (!in) return true;
  std::string environment;
  environment.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (environment.size() > kMaxEnvironmentSize) return true;
  std::string_view rest(environment);
  while (!rest.empty()) {
    const auto end = rest.find('\0');
    const std::string_view entry = rest.substr(0, end);
    const auto equals = entry.find('=');
    const std::string_view name = entry.substr(0, equals);
    const bool hasValue = equals != std::string_view::npos && equals + 1 < entry.size();
    if (hasValue && std::find(kInjectingVariables.begin(), kInjectingVariables.end(), name) !=
                        kInjectingVariables.end()) {
      return true;
    }
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  return false;
}

// What the platform's hardened runtime would guarantee: nobody is attached to
// the process and the loader was not told to run foreign code in it.
OSStatus checkGuestHardening(const Code::Guest& guest) {
  long tracer = -1;
  const bool statusRead = readTracerPid(guest.pid, tracer);
  const bool injected = startedWithInjection(guest.pid);
  // Everything above was read through /proc/PID; it described the guest only if
  // the guest is still alive and PID still names it.
  if (!proc::isSameProcess(guest.pid, guest.pidfd.get(), guest.startTime)) {
    return errSecCSGuestInvalid;
  }
  if (!statusRead || tracer != 0 || injected) return errSecCSReqFailed;
  return errSecSuccess;
}

}  // namespace

OSStatus copyGuestWithAttributes(const AuditToken& token, std::unique_ptr<Code>& code) {
  code.reset();
  if (token.pid <= 0 || !token.pidfd || !proc::isAlive(token.pidfd.get())) {
    return errSecCSNoSuchCode;
  }
  FileDescriptor file(::open(procPath(token.pid, "exe").c_str(), O_RDONLY | O_CLOEXEC));
  if (!file) return errSecCSNoSuchCode;
  // The open may have raced with the peer's exit and the PID's reuse; only if
  // the pinned process is still there is the file its executable.
  if (!proc::isSameProcess(token.pid, token.pidfd.get(), token.startTime)) {
    return errSecCSNoSuchCode;
  }
  FileDescriptor pidfd(::fcntl(token.pidfd.get(), F_DUPFD_CLOEXEC, 0));
  if (!pidfd) return errSecCSInternalError;
  code = std::make_unique<Code>(std::move(file),
                                Code::Guest{token.pid, std::move(pidfd), token.startTime});
  return errSecSuccess;
}

OSStatus staticCodeCreateWithPath(const std::filesystem::path& path, std::unique_ptr<Code>& code) {
  code.reset();
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat info {};
  if (!file || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return errSecCSStaticCodeNotFound;
  }
  code = std::make_unique<Code>(std::move(file), std::nullopt);
  return errSecSuccess;
}

OSStatus checkValidity(const Code& code, const Requirement& requirement, const TrustAnchor& anchor,
                       const CheckLimits& limits) {
  SignatureTrailer trailer;
  std::uint64_t contentLength = 0;
  if (const OSStatus status = readSizedTrailer(code, trailer, contentLength, limits);
      status != errSecSuccess) {
    return status;
  }
  // The cheap questions first (who certified the team, which identifier and team the
  // trailer names: one signature over a hundred bytes), so that a stranger's file is
  // refused before a byte of it is hashed. The content's signature covers all of
  // them, so nothing is taken on trust.
  for (const auto& clause : requirement.clauses()) {
    if (!satisfies(trailer, clause, anchor)) return errSecCSReqFailed;
  }
  if (const OSStatus status = verifyContent(code, trailer, contentLength, limits);
      status != errSecSuccess) {
    return status;
  }
  if (code.guest()) return checkGuestHardening(*code.guest());
  return errSecSuccess;
}

OSStatus copySigningInformation(const Code& code, SigningInformation& information) {
  SignatureTrailer trailer;
  std::uint64_t contentLength = 0;
  const CheckLimits limits;
  OSStatus status = readSizedTrailer(code, trailer, contentLength, limits);
  if (status == errSecSuccess) status = verifyContent(code, trailer, contentLength, limits);
  if (status != errSecSuccess) return status;
  information = {trailer.identifier, trailer.certificate.teamID};
  return errSecSuccess;
}

}  // namespace zephro::codesign

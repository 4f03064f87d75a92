#include <poll.h>
#include <sys/ptrace.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "helper/HelperService.h"
#include "platform/codesign/AuditToken.h"
#include "platform/codesign/Code.h"
#include "platform/codesign/Keys.h"
#include "platform/codesign/Requirement.h"
#include "platform/codesign/SignatureTrailer.h"
#include "platform/codesign/Signer.h"
#include "platform/codesign/TrustAnchor.h"
#include "platform/posix/Process.h"
#include "tests/support/TempDir.h"

namespace zephro::codesign {
namespace {

// A signing identity made fresh for a test: an anchor and a team it certified.
struct TestIdentity {
  KeyPair anchor = KeyPair::generate();
  KeyPair team = KeyPair::generate();
  TeamCertificate certificate = TeamCertificate::issue(anchor.secret, "Q7K2M9T4XW", team.publicKey);

  [[nodiscard]] TrustAnchor trustAnchor() const { return TrustAnchor(anchor.publicKey); }
};

using Bytes = std::vector<std::uint8_t>;
using zephro::testing::TempDir;

Bytes readBytes(const std::filesystem::path& path) {
  const auto text = zephro::testing::readFile(path);
  return {text.begin(), text.end()};
}

void writeBytes(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

Requirement parsedRequirement(const std::string& text) {
  std::unique_ptr<Requirement> parsed;
  if (requirementCreateWithString(text, parsed) != errSecSuccess) {
    throw std::invalid_argument("bad requirement in test: " + text);
  }
  return *parsed;
}

// checkValidity of the file at path, or the status that stopped it earlier.
OSStatus checkFile(const std::filesystem::path& path, const std::string& requirementText,
                   const TrustAnchor& anchor) {
  std::unique_ptr<Code> code;
  if (const OSStatus status = staticCodeCreateWithPath(path, code); status != errSecSuccess) {
    return status;
  }
  return checkValidity(*code, parsedRequirement(requirementText), anchor);
}

// The exit status of a program run to its end, with its output in `output`.
int runTool(const std::vector<std::string>& argv, std::string& output) {
  const TempDir dir;
  std::string command;
  for (const auto& argument : argv) command += "'" + argument + "' ";
  const int status = std::system((command + "> " + (dir / "out").string() + " 2>&1").c_str());
  output = zephro::testing::readFile(dir / "out");
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

using Kind = Requirement::Clause::Kind;

TEST(Requirement, ParsesClausesAndWritesThemBackInCanonicalForm) {
  std::unique_ptr<Requirement> parsed;
  ASSERT_EQ(requirementCreateWithString(kClientRequirement, parsed), errSecSuccess);
  EXPECT_EQ(parsed->clauses(),
            (std::vector<Requirement::Clause>{{Kind::anchorGeneric, ""},
                                              {Kind::identifier, "com.zephro.app"},
                                              {Kind::leafOrganizationalUnit, "Q7K2M9T4XW"}}));
  EXPECT_EQ(parsed->text(), kClientRequirement);

  // Spacing variants and escapes.
  ASSERT_EQ(requirementCreateWithString(
                "\tcertificate leaf [ subject.OU ]=\"A\\\"B\\\\\"\nand identifier \"x\"  ", parsed),
            errSecSuccess);
  EXPECT_EQ(parsed->clauses(),
            (std::vector<Requirement::Clause>{{Kind::leafOrganizationalUnit, "A\"B\\"},
                                              {Kind::identifier, "x"}}));
  EXPECT_EQ(parsed->text(), R"(certificate leaf[subject.OU] = "A\"B\\" and identifier "x")");
}

TEST(Requirement, RejectsEverythingOutsideTheLanguage) {
  const std::vector<std::string> invalid = {
      "",
      "anchor apple",
      "anchor apple generic and",
      "and anchor apple generic",
      "anchor apple generic or identifier \"x\"",
      "anchor apple generic identifier \"x\"",
      "identifier com.zephro.app",
      "identifier \"com.zephro.app",
      R"(identifier "a\nb")",
      "identifier \"a\\",
      "certificate leaf[subject.CN] = \"Q7K2M9T4XW\"",
      "certificate leaf[subject.OU = \"Q7K2M9T4XW\"",
      "certificate root[subject.OU] = \"Q7K2M9T4XW\"",
      "Anchor Apple Generic",
      std::string("identifier \"a\0b\"", 16),
      "identifier \"" + std::string(5000, 'a') + "\"",
  };
  for (const auto& text : invalid) {
    std::unique_ptr<Requirement> parsed =
        std::make_unique<Requirement>(std::vector<Requirement::Clause>{});
    EXPECT_EQ(requirementCreateWithString(text, parsed), errSecCSReqInvalid) << text;
    EXPECT_EQ(parsed, nullptr) << text;
  }
}

constexpr std::size_t kContentSize = 3000;
// Trailer of "com.zephro.app" (14) for team "Q7K2M9T4XW" (10).
constexpr std::size_t kTrailerSize = SignatureTrailer::kFixedSize + 14 + 10;

class Signature : public ::testing::Test {
 protected:
  Signature() {
    for (std::size_t i = 0; i < kContentSize; ++i)
      content_.push_back(static_cast<std::uint8_t>(i * 7 + 3));
    writeBytes(program_, content_);
  }

  void sign(const std::filesystem::path& path,
            const std::string& identifier = "com.zephro.app") const {
    signFile(path, identifier, identity_.team.secret, identity_.certificate);
  }

  // A copy of the program signed by another key and certificate.
  std::filesystem::path signedBy(const std::string& name, const SecretKey& key,
                                 const TeamCertificate& certificate) const {
    writeBytes(dir_ / name, content_);
    signFile(dir_ / name, "com.zephro.app", key, certificate);
    return dir_ / name;
  }

  OSStatus check(const std::filesystem::path& path,
                 const std::string& requirement = kClientRequirement) {
    return checkFile(path, requirement, identity_.trustAnchor());
  }

  TempDir dir_;
  std::filesystem::path program_ = dir_ / "program";
  std::vector<std::uint8_t> content_;
  TestIdentity identity_;
};

TEST_F(Signature, SignedFileVerifiesAndResigningReplacesTheSignature) {
  ASSERT_EQ(::chmod(program_.c_str(), 0751), 0);
  sign(program_);
  EXPECT_EQ(check(program_), errSecSuccess);

  auto bytes = readBytes(program_);
  ASSERT_EQ(bytes.size(), kContentSize + kTrailerSize);
  EXPECT_TRUE(std::equal(content_.begin(), content_.end(), bytes.begin()));
  struct stat info {};
  ASSERT_EQ(::stat(program_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0751u);
  // (The signing information is read back in the CodesignTool test.)

  sign(program_, "com.zephro.other");
  bytes = readBytes(program_);
  EXPECT_EQ(bytes.size(), kContentSize + kTrailerSize + 2);
  EXPECT_TRUE(std::equal(content_.begin(), content_.end(), bytes.begin()));
  EXPECT_EQ(check(program_), errSecCSReqFailed);
  EXPECT_EQ(check(program_, R"(anchor apple generic and identifier "com.zephro.other")"),
            errSecSuccess);
}

TEST_F(Signature, AFlippedByteInContentOrTrailerFailsTheCheck) {
  sign(program_);
  const auto signedBytes = readBytes(program_);
  const auto tampered = dir_ / "tampered";
  // The first and last content bytes, then the trailer's magic, version, identifier, code
  // signature, length field and footer magic. A flipped identifier no longer names the
  // application, which is found before the content is hashed.
  const std::vector<std::pair<std::size_t, OSStatus>> flips = {
      {0, errSecCSSignatureFailed},
      {kContentSize - 1, errSecCSSignatureFailed},
      {kContentSize + 0, errSecCSSignatureFailed},
      {kContentSize + 8, errSecCSSignatureUnsupported},
      {kContentSize + 12, errSecCSReqFailed},
      {kContentSize + 132, errSecCSSignatureFailed},
      {kContentSize + 196, errSecCSSignatureFailed},
      {signedBytes.size() - 1, errSecCSUnsigned},
  };
  for (const auto& [at, expected] : flips) {
    auto bytes = signedBytes;
    bytes[at] ^= 0x01;
    writeBytes(tampered, bytes);
    EXPECT_EQ(check(tampered), expected) << "byte " << at;
  }
}

TEST_F(Signature, ForeignOrMissingSignaturesFailTheCheck) {
  writeBytes(dir_ / "empty", {});
  EXPECT_EQ(check(dir_ / "empty"), errSecCSUnsigned);
  writeBytes(dir_ / "tiny", {'Z', 'P', 'H'});
  EXPECT_EQ(check(dir_ / "tiny"), errSecCSUnsigned);

  // Another team certified by the same anchor.
  const KeyPair otherTeam = KeyPair::generate();
  const auto otherTeamFile =
      signedBy("other-team", otherTeam.secret,
               TeamCertificate::issue(identity_.anchor.secret, "OTHERTEAM1", otherTeam.publicKey));
  EXPECT_EQ(check(otherTeamFile), errSecCSReqFailed);
  EXPECT_EQ(check(otherTeamFile, "anchor apple generic"), errSecSuccess);

  sign(program_, "com.zephro.app.evil");
  EXPECT_EQ(check(program_), errSecCSReqFailed);

  // The right team ID, but certified by an anchor the verifier does not trust.
  const TestIdentity untrusted;
  const auto untrustedFile = signedBy("untrusted", untrusted.team.secret, untrusted.certificate);
  EXPECT_EQ(check(untrustedFile), errSecCSReqFailed);
  // Without the anchor clause the certificate is not consulted, as on the platform.
  EXPECT_EQ(check(untrustedFile, R"(identifier "com.zephro.app")"), errSecSuccess);
}

TEST_F(Signature, AChecksCostIsBoundedBySizeAndDeadline) {
  sign(program_);
  const auto size = std::filesystem::file_size(program_);
  const auto past = std::chrono::steady_clock::now() - std::chrono::seconds(1);
  const auto requirement = parsedRequirement(kClientRequirement);
  std::unique_ptr<Code> code;
  ASSERT_EQ(staticCodeCreateWithPath(program_, code), errSecSuccess);
  const auto checkWith = [&](const CheckLimits& limits) {
    return checkValidity(*code, requirement, identity_.trustAnchor(), limits);
  };
  EXPECT_EQ(checkWith({.maxCodeSize = size}), errSecSuccess);
  EXPECT_EQ(checkWith({.maxCodeSize = size - 1}), errSecCSSignatureFailed);
  EXPECT_EQ(checkWith({.deadline = past}), errSecCSCancelled);

  // A file nobody we trust certified is refused on its trailer alone: with no time
  // left to hash a byte, the answer is still the requirement's.
  const TestIdentity untrusted;
  const auto untrustedFile = signedBy("untrusted", untrusted.team.secret, untrusted.certificate);
  ASSERT_EQ(staticCodeCreateWithPath(untrustedFile, code), errSecSuccess);
  EXPECT_EQ(checkWith({.deadline = past}), errSecCSReqFailed);
}

TEST_F(Signature, SigningRefusesInconsistentInputsAndLeavesTheFileAlone) {
  const KeyPair stranger = KeyPair::generate();
  EXPECT_THROW(signFile(program_, "com.zephro.app", stranger.secret, identity_.certificate),
               std::invalid_argument);
  EXPECT_THROW(sign(program_, "com zephro app"), std::invalid_argument);
  EXPECT_THROW(sign(program_, ""), std::invalid_argument);
  EXPECT_THROW(sign(dir_ / "missing"), std::runtime_error);
  EXPECT_EQ(readBytes(program_), content_);

  sign(program_);
  auto bytes = readBytes(program_);
  bytes[kContentSize + 8] = 2;  // an unknown version
  writeBytes(program_, bytes);
  try {
    sign(program_);
    FAIL() << "signed over a damaged signature";
  } catch (const std::runtime_error& error) {
    EXPECT_EQ(
        std::string(error.what()),
        program_.string() + ": carries a damaged or unknown signature; rebuild it before signing");
  }
  EXPECT_EQ(readBytes(program_), bytes);
  EXPECT_FALSE(std::filesystem::exists(program_.string() + ".signing"));
}

TEST_F(Signature, MalformedAndTruncatedTrailersGiveAClearStatus) {
  sign(program_);
  const auto signedBytes = readBytes(program_);
  const auto damaged = dir_ / "damaged";

  for (const std::size_t cut :
       {std::size_t{1}, SignatureTrailer::kFooterSize, SignatureTrailer::kFooterSize + 1,
        kTrailerSize - 1, kTrailerSize, kTrailerSize + 1}) {
    writeBytes(damaged,
               {signedBytes.begin(), signedBytes.end() - static_cast<std::ptrdiff_t>(cut)});
    const OSStatus status = check(damaged);
    // Only the cut that happens to end on the old footer could look signed.
    ASSERT_TRUE(status == errSecCSUnsigned || status == errSecCSSignatureFailed)
        << cut << ": " << status;
  }

  const std::size_t lengthField = signedBytes.size() - SignatureTrailer::kFooterSize;
  for (const std::uint32_t length : {183u, 185u, 0xffffffffu}) {
    auto bytes = signedBytes;
    for (int i = 0; i < 4; ++i)
      bytes[lengthField + i] = static_cast<std::uint8_t>(length >> (8 * i));
    writeBytes(damaged, bytes);
    EXPECT_EQ(check(damaged), errSecCSSignatureFailed) << length;
  }
  // A footer on a file shorter than the length it declares.
  writeBytes(damaged, {signedBytes.end() - 20, signedBytes.end()});
  EXPECT_EQ(check(damaged), errSecCSSignatureFailed);

  std::unique_ptr<Code> code;
  EXPECT_EQ(staticCodeCreateWithPath(dir_.path(), code), errSecCSStaticCodeNotFound);
  EXPECT_EQ(staticCodeCreateWithPath(dir_ / "missing", code), errSecCSStaticCodeNotFound);
  EXPECT_EQ(code, nullptr);
}

// The files round-trip through the tool in the CodesignTool test.
TEST(KeyFiles, RefuseToOverwriteOrMisread) {
  TempDir dir;
  const TestIdentity identity;
  writeSecretKeyFile(dir / "team.key", identity.team.secret);
  writePublicKeyFile(dir / "team.pub", identity.team.publicKey);
  struct stat info {};
  ASSERT_EQ(::stat((dir / "team.key").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  const auto before = readBytes(dir / "team.key");
  EXPECT_THROW(writeSecretKeyFile(dir / "team.key", KeyPair::generate().secret),
               std::runtime_error);
  EXPECT_EQ(readBytes(dir / "team.key"), before);

  const auto expectError = [](auto read, const std::filesystem::path& path,
                              const std::string& what) {
    try {
      (void)read(path);
      ADD_FAILURE() << path << " was accepted";
    } catch (const std::runtime_error& error) {
      EXPECT_EQ(std::string(error.what()), path.string() + ": " + what);
    }
  };
  expectError(readPublicKeyFile, dir / "team.key", "not a zephro-ed25519-public file");
  expectError(readSecretKeyFile, dir / "team.pub", "not a zephro-ed25519-secret file");
  std::ofstream(dir / "bad.pub") << "zephro-ed25519-public 00";
  expectError(readPublicKeyFile, dir / "bad.pub", "malformed public key");
  expectError(readPublicKeyFile, dir / "missing.pub", "cannot open: No such file or directory");

  writePublicKeyFile(dir / "anchor.pub", identity.anchor.publicKey);
  EXPECT_EQ(TrustAnchor::fromFile(dir / "anchor.pub").key(), identity.anchor.publicKey);
  ASSERT_EQ(::chmod((dir / "anchor.pub").c_str(), 0664), 0);
  expectError(TrustAnchor::fromFile, dir / "anchor.pub",
              "refusing an anchor key writable by group or others");
  if (::geteuid() == 0) {
    ASSERT_EQ(::chmod((dir / "anchor.pub").c_str(), 0644), 0);
    ASSERT_EQ(::chown((dir / "anchor.pub").c_str(), 65534, 65534), 0);
    expectError(TrustAnchor::fromFile, dir / "anchor.pub",
                "refusing an anchor key owned by uid 65534");
  }
}

TEST(CodesignTool, BuildSignsClientsAndTheToolChecksThemLikeTheHelper) {
  const std::string tool = CODESIGN_TOOL;
  std::string output;
  EXPECT_EQ(runTool({tool, "verify", "--anchor", ZEPHRO_DEV_ANCHOR_KEY, "--requirement",
                     kClientRequirement, SIGNED_CLIENT, UNSIGNED_CLIENT},
                    output),
            1);
  EXPECT_EQ(output, std::string(SIGNED_CLIENT) +
                        ": valid (identifier com.zephro.app, team Q7K2M9T4XW)\n" + UNSIGNED_CLIENT +
                        ": invalid: code object is not signed at all (status -67062)\n");

  // A whole identity made with the tool, as a packager would.
  TempDir dir;
  const auto at = [&](const char* name) { return (dir / name).string(); };
  std::filesystem::copy_file(UNSIGNED_CLIENT, at("client"));
  for (const auto& step : std::vector<std::vector<std::string>>{
           {tool, "keygen", at("anchor.key"), at("anchor.pub")},
           {tool, "keygen", at("team.key"), at("team.pub")},
           {tool, "certify", "--anchor-key", at("anchor.key"), "--team-id", "TEAM123", "--team-key",
            at("team.pub"), at("team.cert")},
           {tool, "sign", "--key", at("team.key"), "--certificate", at("team.cert"), "--identifier",
            "org.example.tool", at("client")},
           {tool, "verify", "--anchor", at("anchor.pub"), at("client")}}) {
    ASSERT_EQ(runTool(step, output), 0) << step[1] << ": " << output;
  }
  EXPECT_EQ(output, at("client") + ": valid (identifier org.example.tool, team TEAM123)\n");
  EXPECT_EQ(runTool({tool, "verify", "--anchor", ZEPHRO_DEV_ANCHOR_KEY, at("client")}, output), 1);
  EXPECT_EQ(output, at("client") +
                        ": invalid: code failed to satisfy specified code requirement(s) "
                        "(status -67050)\n");
  EXPECT_EQ(runTool({tool, "verify", "--requirement", "nonsense", at("client")}, output), 2);
}

// A listening socket, and the client processes that connect to it.
class PeerTest : public ::testing::Test {
 protected:
  PeerTest() {
    listener_ = FileDescriptor(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath_.c_str(), sizeof address.sun_path - 1);
    EXPECT_EQ(::bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(::listen(listener_.get(), 4), 0);
  }

  ~PeerTest() override {
    if (child_ > 0) {
      ::kill(child_, SIGKILL);
      reap();
    }
  }

  // Starts the client, with only the sanitizers' settings and `extra` in its environment,
  // and accepts its connection.
  void start(const std::filesystem::path& program, std::vector<std::string> extra = {},
             bool traced = false) {
    extra.emplace_back("PATH=/usr/bin:/bin");
    for (const char* name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS"}) {
      if (const char* value = std::getenv(name)) extra.push_back(std::string(name) + "=" + value);
    }
    const std::string path = program.string();
    const std::string socket = socketPath_.string();
    std::vector<char*> envp;
    for (auto& entry : extra) envp.push_back(entry.data());
    envp.push_back(nullptr);
    child_ = ::fork();
    ASSERT_GE(child_, 0);
    if (child_ == 0) {
      if (traced) ::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
      char hello[] = "hello";
      char* argv[] = {const_cast<char*>(path.c_str()), const_cast<char*>(socket.c_str()), hello,
                      nullptr};
      ::execve(argv[0], argv, envp.data());
      ::_exit(127);
    }
    if (traced) {
      // The traced child stops at its exec; let it run on, still traced.
      int status = 0;
      ASSERT_EQ(::waitpid(child_, &status, 0), child_);
      ASSERT_TRUE(WIFSTOPPED(status)) << status;
      ASSERT_EQ(::ptrace(PTRACE_CONT, child_, nullptr, nullptr), 0);
    }
    // Generous: the machine is slow and shared, and the clients run under ASan.
    pollfd entry{listener_.get(), POLLIN, 0};
    ASSERT_EQ(::poll(&entry, 1, 120'000), 1) << "the client never connected";
    connection_ = FileDescriptor(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    ASSERT_TRUE(connection_);
    char hello = 0;
    ASSERT_EQ(::read(connection_.get(), &hello, 1), 1);
  }

  // Lets the client end and reaps it, so its PID is free again.
  void finish() {
    const char byte = 'x';
    ASSERT_EQ(::write(connection_.get(), &byte, 1), 1);
    ASSERT_EQ(reap(), 0);
  }

  int reap() {
    int status = 0;
    while (::waitpid(child_, &status, 0) < 0 && errno == EINTR) {
    }
    child_ = 0;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // The helper's accept path: the peer's code against the client requirement.
  OSStatus checkPeer() {
    const AuditToken token = auditTokenOfPeer(connection_.get());
    std::unique_ptr<Code> code;
    if (const OSStatus status = copyGuestWithAttributes(token, code); status != errSecSuccess) {
      return status;
    }
    return checkValidity(*code, parsedRequirement(kClientRequirement), anchor_);
  }

  TempDir dir_;
  std::filesystem::path socketPath_ = dir_ / "helper.sock";
  FileDescriptor listener_;
  FileDescriptor connection_;
  pid_t child_ = 0;
  TrustAnchor anchor_ = TrustAnchor::fromFile(ZEPHRO_DEV_ANCHOR_KEY);
};

TEST_F(PeerTest, SignedClientIsAcceptedAndItsTokenNamesIt) {
  start(SIGNED_CLIENT);
  const AuditToken token = auditTokenOfPeer(connection_.get());
  EXPECT_EQ(token.pid, child_);
  EXPECT_EQ(token.uid, ::getuid());
  EXPECT_EQ(token.gid, ::getgid());
  EXPECT_TRUE(token.pidfd);
  std::uint64_t start = 0;
  ASSERT_TRUE(proc::startTime(child_, start));
  EXPECT_EQ(token.startTime, start);

  std::unique_ptr<Code> code;
  ASSERT_EQ(copyGuestWithAttributes(token, code), errSecSuccess);
  ASSERT_TRUE(code->guest());
  EXPECT_EQ(code->guest()->pid, child_);
  EXPECT_EQ(checkValidity(*code, parsedRequirement(kClientRequirement), anchor_), errSecSuccess);
  finish();

  // Something that is not a socket has no peer and resolves to no code.
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  const FileDescriptor readEnd(pipeFds[0]), writeEnd(pipeFds[1]);
  const AuditToken none = auditTokenOfPeer(readEnd.get());
  EXPECT_EQ(none.pid, 0);
  EXPECT_EQ(copyGuestWithAttributes(none, code), errSecCSNoSuchCode);
  EXPECT_EQ(code, nullptr);
}

// (An unsigned client is refused in TheRunningExecutableIsCheckedNotThePath.)
TEST_F(PeerTest, InjectedOrTracedClientsAreRefused) {
  for (const char* variable : {"LD_PRELOAD=/nonexistent/libzephro-inject.so",
                               "LD_LIBRARY_PATH=/nonexistent", "LD_AUDIT=/nonexistent/audit.so"}) {
    start(SIGNED_CLIENT, {variable});
    EXPECT_EQ(checkPeer(), errSecCSReqFailed) << variable;
    finish();
  }
  // Set but empty, the variables load nothing.
  start(SIGNED_CLIENT, {"LD_PRELOAD=", "LD_LIBRARY_PATH="});
  EXPECT_EQ(checkPeer(), errSecSuccess);
  finish();

  // Last: the traced client is left for the fixture to kill.
  start(SIGNED_CLIENT, {}, true);
  EXPECT_EQ(checkPeer(), errSecCSReqFailed);
}

TEST_F(PeerTest, ExitedPeerDoesNotVerify) {
  start(SIGNED_CLIENT);
  const AuditToken token = auditTokenOfPeer(connection_.get());
  std::unique_ptr<Code> code;
  ASSERT_EQ(copyGuestWithAttributes(token, code), errSecSuccess);
  finish();
  // The executable is still open and intact, but the process it vouched for is gone.
  EXPECT_EQ(checkValidity(*code, parsedRequirement(kClientRequirement), anchor_),
            errSecCSGuestInvalid);
  EXPECT_EQ(copyGuestWithAttributes(token, code), errSecCSNoSuchCode);
  EXPECT_EQ(code, nullptr);

  // A token taken after the peer has gone pins nothing.
  start(SIGNED_CLIENT);
  finish();
  EXPECT_EQ(checkPeer(), errSecCSNoSuchCode);
}

TEST_F(PeerTest, TheRunningExecutableIsCheckedNotThePath) {
  const auto program = dir_ / "client";
  const auto replacement = dir_ / "replacement";

  std::filesystem::copy_file(SIGNED_CLIENT, program);
  start(program);
  std::filesystem::copy_file(UNSIGNED_CLIENT, replacement);
  std::filesystem::rename(replacement, program);
  EXPECT_EQ(checkPeer(), errSecSuccess);
  finish();

  // program is now the unsigned build; swap the signed one in after it starts.
  start(program);
  std::filesystem::copy_file(SIGNED_CLIENT, replacement);
  std::filesystem::rename(replacement, program);
  EXPECT_EQ(checkPeer(), errSecCSUnsigned);
  finish();
}

}  // namespace
}  // namespace zephro::codesign

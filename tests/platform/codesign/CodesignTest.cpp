#include <poll.h>
#include <sys/ptrace.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>

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

using Kind = Requirement::Clause::Kind;
using Clauses = std::vector<Requirement::Clause>;
using zephro::testing::readFile;
using zephro::testing::TempDir;

struct TestIdentity {
  KeyPair anchor = KeyPair::generate();
  KeyPair team = KeyPair::generate();
  TeamCertificate certificate = TeamCertificate::issue(anchor.secret, "Q7K2M9T4XW", team.publicKey);
};

void writeBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

Requirement parsedRequirement(const std::string& text) {
  std::unique_ptr<Requirement> parsed;
  EXPECT_EQ(requirementCreateWithString(text, parsed), errSecSuccess) << text;
  return parsed ? *parsed : Requirement(Clauses{});
}

// The exit status of a program run to its end, with its output in `output`.
int runTool(const std::vector<std::string>& argv, std::string& output) {
  const TempDir dir;
  std::string command;
  for (const auto& argument : argv) command += "'" + argument + "' ";
  const int status = std::system((command + "> " + (dir / "out").string() + " 2>&1").c_str());
  output = readFile(dir / "out");
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(Requirement, ParsesClausesWritesThemBackCanonicallyAndRejectsEverythingElse) {
  const struct {
    std::string text;
    Clauses clauses;
    std::string canonical;
  } valid[] = {{kClientRequirement,
                {{Kind::anchorGeneric, ""},
                 {Kind::identifier, "com.zephro.app"},
                 {Kind::leafOrganizationalUnit, "Q7K2M9T4XW"}},
                kClientRequirement},
               {"\tcertificate leaf [ subject.OU ]=\"A\\\"B\\\\\"\nand identifier \"x\"  ",
                {{Kind::leafOrganizationalUnit, "A\"B\\"}, {Kind::identifier, "x"}},
                R"(certificate leaf[subject.OU] = "A\"B\\" and identifier "x")"}};
  for (const auto& c : valid) {
    const auto parsed = parsedRequirement(c.text);
    EXPECT_EQ(parsed.clauses(), c.clauses);
    EXPECT_EQ(parsed.text(), c.canonical);
  }
  for (const auto& text : std::vector<std::string>{
           "", "anchor apple", "anchor apple generic and",
           "anchor apple generic or identifier \"x\"", "identifier com.zephro.app",
           "identifier \"com.zephro.app", R"(identifier "a\nb")",
           "certificate leaf[subject.CN] = \"Q7K2M9T4XW\"", std::string("identifier \"a\0b\"", 16),
           "identifier \"" + std::string(5000, 'a') + "\""}) {
    auto parsed = std::make_unique<Requirement>(Clauses{});
    EXPECT_EQ(requirementCreateWithString(text, parsed), errSecCSReqInvalid) << text;
    EXPECT_EQ(parsed, nullptr) << text;
  }
}

constexpr std::size_t kContentSize = 3000;
// Trailer of "com.zephro.app" (14) for team "Q7K2M9T4XW" (10).
constexpr std::size_t kTrailerSize = SignatureTrailer::kFixedSize + 14 + 10;

struct Signature : ::testing::Test {
  Signature() {
    for (std::size_t i = 0; i < kContentSize; ++i) content.push_back(static_cast<char>(i * 7 + 3));
    writeBytes(program, content);
  }
  void sign(const std::filesystem::path& path,
            const std::string& identifier = "com.zephro.app") const {
    signFile(path, identifier, identity.team.secret, identity.certificate);
  }
  std::filesystem::path signedBy(const std::string& name, const SecretKey& key,
                                 const TeamCertificate& certificate) const {
    writeBytes(dir / name, content);
    signFile(dir / name, "com.zephro.app", key, certificate);
    return dir / name;
  }
  OSStatus check(const std::filesystem::path& path,
                 const std::string& requirement = kClientRequirement,
                 const CheckLimits& limits = {}) const {
    std::unique_ptr<Code> code;
    const OSStatus status = staticCodeCreateWithPath(path, code);
    return status != errSecSuccess ? status
                                   : checkValidity(*code, parsedRequirement(requirement),
                                                   TrustAnchor(identity.anchor.publicKey), limits);
  }

  TempDir dir;
  std::filesystem::path program = dir / "program";
  std::string content;
  TestIdentity identity;
};

TEST_F(Signature, SignedFileVerifiesResigningReplacesItAndForeignSignaturesFail) {
  sign(program);
  EXPECT_EQ(check(program), errSecSuccess);
  // A new signature replaces the old one: the content is followed by one trailer.
  sign(program, "com.zephro.other");
  const auto bytes = readFile(program);
  EXPECT_EQ(bytes.substr(0, bytes.size() - kTrailerSize - 2), content);
  EXPECT_EQ(check(program, R"(anchor apple generic and identifier "com.zephro.other")"),
            errSecSuccess);

  writeBytes(dir / "tiny", "ZPH");
  sign(program, "com.zephro.app.evil");
  const KeyPair otherTeam = KeyPair::generate();
  const auto otherTeamFile =
      signedBy("other-team", otherTeam.secret,
               TeamCertificate::issue(identity.anchor.secret, "OTHERTEAM1", otherTeam.publicKey));
  // The right team ID, but certified by an anchor the verifier does not trust.
  const TestIdentity untrusted;
  const auto untrustedFile = signedBy("untrusted", untrusted.team.secret, untrusted.certificate);
  const auto past = std::chrono::steady_clock::now() - std::chrono::seconds(1);
  const std::string generic = "anchor apple generic";
  const std::size_t size = kContentSize + kTrailerSize;
  const struct {
    std::filesystem::path file;
    std::string requirement;
    CheckLimits limits;
    OSStatus status;
  } cases[] = {{dir / "tiny", kClientRequirement, {}, errSecCSUnsigned},
               {program, kClientRequirement, {}, errSecCSReqFailed},
               {otherTeamFile, kClientRequirement, {}, errSecCSReqFailed},
               {untrustedFile, kClientRequirement, {}, errSecCSReqFailed},
               // Without the anchor clause the certificate is not consulted, as on the platform.
               {untrustedFile, R"(identifier "com.zephro.app")", {}, errSecSuccess},
               // A file nobody we trust certified is refused on its trailer alone.
               {untrustedFile, kClientRequirement, {.deadline = past}, errSecCSReqFailed},
               {otherTeamFile, generic, {.deadline = past}, errSecCSCancelled},
               {otherTeamFile, generic, {.maxCodeSize = size}, errSecSuccess},
               {otherTeamFile, generic, {.maxCodeSize = size - 1}, errSecCSSignatureFailed}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file.filename().string() + " " + c.requirement);
    EXPECT_EQ(check(c.file, c.requirement, c.limits), c.status);
  }
}

TEST_F(Signature, DamagedSignaturesGiveAClearStatus) {
  sign(program);
  const auto signedBytes = readFile(program);
  const auto damaged = dir / "damaged";
  // Content, then the trailer's magic, version, identifier (no longer naming the application,
  // found before the content is hashed), code signature, length field and footer magic.
  for (const auto& [at, expected] : std::vector<std::pair<std::size_t, OSStatus>>{
           {kContentSize - 1, errSecCSSignatureFailed},
           {kContentSize + 0, errSecCSSignatureFailed},
           {kContentSize + 8, errSecCSSignatureUnsupported},
           {kContentSize + 12, errSecCSReqFailed},
           {kContentSize + 132, errSecCSSignatureFailed},
           {kContentSize + 196, errSecCSSignatureFailed},
           {signedBytes.size() - 1, errSecCSUnsigned}}) {
    auto bytes = signedBytes;
    bytes[at] ^= 0x01;
    writeBytes(damaged, bytes);
    EXPECT_EQ(check(damaged), expected) << "byte " << at;
  }
  for (const std::size_t cut :
       {std::size_t{1}, SignatureTrailer::kFooterSize, kTrailerSize, kTrailerSize + 1}) {
    writeBytes(damaged, signedBytes.substr(0, signedBytes.size() - cut));
    const OSStatus status = check(damaged);
    // Only the cut that happens to end on the old footer could look signed.
    EXPECT_TRUE(status == errSecCSUnsigned || status == errSecCSSignatureFailed)
        << cut << ": " << status;
  }
  const std::size_t lengthField = signedBytes.size() - SignatureTrailer::kFooterSize;
  for (const std::uint32_t length : {183u, 185u, 0xffffffffu}) {
    auto bytes = signedBytes;
    for (int i = 0; i < 4; ++i) bytes[lengthField + i] = static_cast<char>(length >> (8 * i));
    writeBytes(damaged, bytes);
    EXPECT_EQ(check(damaged), errSecCSSignatureFailed) << length;
  }
  // A footer on a file shorter than the length it declares.
  writeBytes(damaged, signedBytes.substr(signedBytes.size() - 20));
  EXPECT_EQ(check(damaged), errSecCSSignatureFailed);
  EXPECT_EQ(check(dir.path()), errSecCSStaticCodeNotFound);
}

TEST_F(Signature, SigningRefusesInconsistentInputsAndLeavesTheFileAlone) {
  const KeyPair stranger = KeyPair::generate();
  EXPECT_THROW(signFile(program, "com.zephro.app", stranger.secret, identity.certificate),
               std::invalid_argument);
  EXPECT_THROW(sign(program, "com zephro app"), std::invalid_argument);
  EXPECT_THROW(sign(dir / "missing"), std::runtime_error);
  EXPECT_EQ(readFile(program), content);

  sign(program);
  auto bytes = readFile(program);
  bytes[kContentSize + 8] = 2;  // an unknown version
  writeBytes(program, bytes);
  try {
    sign(program);
    FAIL() << "signed over a damaged signature";
  } catch (const std::runtime_error& error) {
    EXPECT_EQ(
        std::string(error.what()),
        program.string() + ": carries a damaged or unknown signature; rebuild it before signing");
  }
  EXPECT_EQ(readFile(program), bytes);
  EXPECT_FALSE(std::filesystem::exists(program.string() + ".signing"));
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
  const auto before = readFile(dir / "team.key");
  EXPECT_THROW(writeSecretKeyFile(dir / "team.key", KeyPair::generate().secret),
               std::runtime_error);
  EXPECT_EQ(readFile(dir / "team.key"), before);

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
  std::ofstream(dir / "bad.pub") << "zephro-ed25519-public 00";
  expectError(readPublicKeyFile, dir / "bad.pub", "malformed public key");
  expectError(readPublicKeyFile, dir / "missing.pub", "cannot open: No such file or directory");

  writePublicKeyFile(dir / "anchor.pub", identity.anchor.publicKey);
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

// A listening socket, and the client processes (the helper tests' "hello") that connect.
struct PeerTest : ::testing::Test {
  PeerTest() {
    sockaddr_un address{AF_UNIX, {}};
    socketPath.copy(address.sun_path, sizeof address.sun_path - 1);
    EXPECT_EQ(::bind(listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(::listen(listener.get(), 4), 0);
  }
  ~PeerTest() override {
    if (child > 0) ::kill(child, SIGKILL), reap();
  }

  // Only the sanitizers' settings and `extra` are in the client's environment.
  void start(const std::filesystem::path& program, std::vector<std::string> extra = {},
             bool traced = false) {
    extra.emplace_back("PATH=/usr/bin:/bin");
    for (const char* name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS"}) {
      if (const char* value = std::getenv(name)) extra.push_back(std::string(name) + "=" + value);
    }
    std::vector<char*> envp;
    for (auto& entry : extra) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string path = program.string(), hello = "hello";
    char* argv[] = {path.data(), socketPath.data(), hello.data(), nullptr};
    child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      if (traced) ::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
      ::execve(argv[0], argv, envp.data());
      ::_exit(127);
    }
    if (traced) {
      // The traced child stops at its exec; let it run on, still traced.
      int status = 0;
      ASSERT_EQ(::waitpid(child, &status, 0), child);
      ASSERT_TRUE(WIFSTOPPED(status)) << status;
      ASSERT_EQ(::ptrace(PTRACE_CONT, child, nullptr, nullptr), 0);
    }
    pollfd entry{listener.get(), POLLIN, 0};
    ASSERT_EQ(::poll(&entry, 1, 120'000), 1) << "the client never connected";
    connection = FileDescriptor(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
    char byte = 0;
    ASSERT_EQ(::read(connection.get(), &byte, 1), 1);
  }
  // Lets the client end and reaps it, so its PID is free again.
  void finish() {
    ASSERT_EQ(::write(connection.get(), "x", 1), 1);
    ASSERT_EQ(reap(), 0);
  }
  int reap() {
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    child = 0;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  // The helper's accept path: the peer's code, kept in `code`, against the client requirement.
  OSStatus checkPeer() {
    const OSStatus status = copyGuestWithAttributes(auditTokenOfPeer(connection.get()), code);
    return status != errSecSuccess ? status : checkValidity(*code, requirement, anchor);
  }

  TempDir dir;
  std::string socketPath = (dir / "helper.sock").string();
  FileDescriptor listener{::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)};
  FileDescriptor connection;
  pid_t child = 0;
  TrustAnchor anchor = TrustAnchor::fromFile(ZEPHRO_DEV_ANCHOR_KEY);
  Requirement requirement = parsedRequirement(kClientRequirement);
  std::unique_ptr<Code> code;
};

TEST_F(PeerTest, SignedClientIsAcceptedWhileItRunsAndItsTokenNamesIt) {
  start(SIGNED_CLIENT);
  const AuditToken token = auditTokenOfPeer(connection.get());
  std::uint64_t started = 0;
  ASSERT_TRUE(proc::startTime(child, started));
  EXPECT_EQ(std::tuple(token.pid, token.uid, token.gid, bool(token.pidfd), token.startTime),
            std::tuple(child, ::getuid(), ::getgid(), true, started));
  EXPECT_EQ(checkPeer(), errSecSuccess);
  ASSERT_TRUE(code && code->guest());
  finish();
  // The executable is still open and intact, but the process it vouched for is gone.
  EXPECT_EQ(checkValidity(*code, requirement, anchor), errSecCSGuestInvalid);
  EXPECT_EQ(copyGuestWithAttributes(token, code), errSecCSNoSuchCode);
  EXPECT_EQ(code, nullptr);
  // A token taken after the peer has gone pins nothing.
  start(SIGNED_CLIENT);
  finish();
  EXPECT_EQ(checkPeer(), errSecCSNoSuchCode);
}

TEST_F(PeerTest, InjectedTracedOrSwappedClientsAreRefusedByTheRunningExecutable) {
  const struct {
    std::vector<std::string> environment;
    OSStatus status;
  } environments[] = {{{"LD_PRELOAD=/nonexistent/libzephro-inject.so"}, errSecCSReqFailed},
                      {{"LD_LIBRARY_PATH=/nonexistent"}, errSecCSReqFailed},
                      {{"LD_AUDIT=/nonexistent/audit.so"}, errSecCSReqFailed},
                      // Set but empty, the variables load nothing.
                      {{"LD_PRELOAD=", "LD_LIBRARY_PATH="}, errSecSuccess}};
  for (const auto& e : environments) {
    start(SIGNED_CLIENT, e.environment);
    EXPECT_EQ(checkPeer(), e.status) << e.environment[0];
    finish();
  }
  // The file at the path is swapped after the start, either way.
  const auto program = dir / "client";
  const auto replacement = dir / "replacement";
  std::filesystem::copy_file(SIGNED_CLIENT, program);
  for (const auto& [swapIn, status] :
       {std::pair{UNSIGNED_CLIENT, errSecSuccess}, std::pair{SIGNED_CLIENT, errSecCSUnsigned}}) {
    start(program);
    std::filesystem::copy_file(swapIn, replacement);
    std::filesystem::rename(replacement, program);
    EXPECT_EQ(checkPeer(), status) << swapIn;
    finish();
  }
  // Last: the traced client is left for the fixture to kill.
  start(SIGNED_CLIENT, {}, true);
  EXPECT_EQ(checkPeer(), errSecCSReqFailed);
}

}  // namespace
}  // namespace zephro::codesign

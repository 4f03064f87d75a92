#include <poll.h>
#include <sys/ptrace.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "CodesignTestSupport.h"
#include "platform/codesign/AuditToken.h"
#include "platform/codesign/Code.h"
#include "platform/posix/Process.h"
#include "tests/support/TempDir.h"

namespace zephro::codesign {
namespace {

using testing::kClientRequirement;

// Generous: the machine is slow and shared, and the clients run under ASan.
constexpr int kAcceptTimeoutMs = 120'000;

struct SpawnOptions {
  std::vector<std::string> extraEnvironment;
  bool traced = false;
};

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

  // Starts the client and accepts its connection.
  void start(const std::filesystem::path& program, const SpawnOptions& options = {}) {
    std::vector<std::string> environment = {"PATH=/usr/bin:/bin"};
    for (const char* name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS"}) {
      if (const char* value = std::getenv(name))
        environment.push_back(std::string(name) + "=" + value);
    }
    environment.insert(environment.end(), options.extraEnvironment.begin(),
                       options.extraEnvironment.end());
    const std::vector<std::string> arguments = {program.string(), socketPath_.string()};
    std::vector<char*> argv;
    std::vector<char*> envp;
    argv.reserve(arguments.size() + 1);
    envp.reserve(environment.size() + 1);
    for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    for (const auto& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
    argv.push_back(nullptr);
    envp.push_back(nullptr);

    child_ = ::fork();
    ASSERT_GE(child_, 0);
    if (child_ == 0) {
      if (options.traced) ::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
      ::execve(argv[0], argv.data(), envp.data());
      ::_exit(127);
    }
    if (options.traced) {
      // The traced child stops at its exec; let it run on, still traced.
      int status = 0;
      ASSERT_EQ(::waitpid(child_, &status, 0), child_);
      ASSERT_TRUE(WIFSTOPPED(status)) << status;
      ASSERT_EQ(::ptrace(PTRACE_CONT, child_, nullptr, nullptr), 0);
    }
    pollfd entry{listener_.get(), POLLIN, 0};
    ASSERT_EQ(::poll(&entry, 1, kAcceptTimeoutMs), 1) << "the client never connected";
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
    return checkValidity(*code, testing::requirement(kClientRequirement), anchor_);
  }

  zephro::testing::TempDir dir_;
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
  EXPECT_EQ(checkValidity(*code, testing::requirement(kClientRequirement), anchor_), errSecSuccess);
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
    start(SIGNED_CLIENT, {.extraEnvironment = {variable}});
    EXPECT_EQ(checkPeer(), errSecCSReqFailed) << variable;
    finish();
  }
  // Set but empty, the variables load nothing.
  start(SIGNED_CLIENT, {.extraEnvironment = {"LD_PRELOAD=", "LD_LIBRARY_PATH="}});
  EXPECT_EQ(checkPeer(), errSecSuccess);
  finish();

  // Last: the traced client is left for the fixture to kill.
  start(SIGNED_CLIENT, {.extraEnvironment = {}, .traced = true});
  EXPECT_EQ(checkPeer(), errSecCSReqFailed);
}

TEST_F(PeerTest, ExitedPeerDoesNotVerify) {
  start(SIGNED_CLIENT);
  const AuditToken token = auditTokenOfPeer(connection_.get());
  std::unique_ptr<Code> code;
  ASSERT_EQ(copyGuestWithAttributes(token, code), errSecSuccess);
  finish();
  // The executable is still open and intact, but the process it vouched for is gone.
  EXPECT_EQ(checkValidity(*code, testing::requirement(kClientRequirement), anchor_),
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

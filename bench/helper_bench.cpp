// The helper's request latency over its socket, and how long it takes to start.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <string_view>
#include <thread>

#include "bench/BenchSupport.h"
#include "helper/HelperService.h"
#include "platform/codesign/Keys.h"
#include "platform/codesign/Signer.h"
#include "platform/log/Log.h"
#include "platform/smc/EmulatedSmc.h"
#include "platform/xpc/Socket.h"
#include "protocol/remote/InProcessHelperServer.h"
#include "protocol/remote/RemoteHelper.h"

namespace {

using namespace zephro;
using Clock = std::chrono::steady_clock;
using bench::freshDir;
using bench::reportPercentiles;

// getFanInfoWithReply: from a client connection to a HelperService over a two-fan
// emulated machine, served on a socket of this process.
void BM_GetFanInfoRoundTrip(benchmark::State& state) {
  const auto dir = freshDir();
  auto smc = std::make_shared<smc::EmulatedSmc>(
      smc::MachineProfile::load(*smc::findMachineProfile("macbookpro16-1")));
  auto sleeper = std::make_shared<ThreadSleeper>();
  polkit::SystemBusAuthority authority;  // never asked: the benchmark only reads
  HelperService service(
      [&](Error* error) {
        return SMCWrapperObjC::create(std::make_unique<smc::EmulatedUserClient>(smc), sleeper,
                                      error);
      },
      codesign::TrustAnchor(codesign::KeyPair::generate().publicKey), authority);
  // The service's lines are part of the cost; they go to memory instead of a terminal.
  log::Capture capture;
  InProcessHelperServer server((dir / "helper.sock").string(), service);
  auto connection = xpc::Connection::toSocketPath((dir / "helper.sock").string());
  connection->resume();
  auto proxy = remoteHelperProxy(connection, [](const Error&) {});

  std::vector<double> micros;
  for ([[maybe_unused]] auto _ : state) {
    std::promise<std::size_t> answered;
    auto future = answered.get_future();
    const auto start = Clock::now();
    proxy->getFanInfo([&](const std::vector<FanInfoDTO>& fans, const std::optional<Error>&) {
      answered.set_value(fans.size());
    });
    if (future.get() != 2) state.SkipWithError("wrong fan count");
    micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    if (micros.size() % 1024 == 0) {
      state.PauseTiming();
      capture.clear();
      state.ResumeTiming();
    }
  }
  reportPercentiles(state, micros);
  connection->invalidate();
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_GetFanInfoRoundTrip)->UseRealTime()->Unit(benchmark::kMicrosecond);

// From spawning com.zephro.helper to its socket taking connections.
void BM_HelperStartToAccepting(benchmark::State& state) {
  const auto dir = freshDir();
  const auto socket = (dir / "helper.sock").string();
  const std::string smcSpec = "emulated:macbookpro16-1,state=" + (dir / "state.json").string();
  std::vector<std::string> argv{HELPER_BINARY, "--smc", smcSpec, "--anchor-key",
                                ZEPHRO_DEV_ANCHOR_KEY};
  std::vector<std::string> environment{"ZEPHRO_HELPER_SOCKET=" + socket};
  for (char** entry = environ; *entry != nullptr; ++entry) environment.emplace_back(*entry);
  std::vector<char*> args, env;
  for (auto& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  for (auto& e : environment) env.push_back(e.data());
  env.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);

  std::vector<double> micros;
  for ([[maybe_unused]] auto _ : state) {
    const auto start = Clock::now();
    pid_t pid = -1;
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), env.data()) != 0) {
      state.SkipWithError("cannot start the helper");
      break;
    }
    std::string error;
    while (!xpc::connectUnixSocket(socket, error).valid()) std::this_thread::yield();
    micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    state.PauseTiming();
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    state.ResumeTiming();
  }
  posix_spawn_file_actions_destroy(&actions);
  reportPercentiles(state, micros);
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_HelperStartToAccepting)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(20);

// CPU time (user, system, and that of its reaped children) of a process, in milliseconds.
double cpuMillis(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(in, line);
  std::istringstream fields(line.substr(line.rfind(')') + 2));
  std::string field;
  double ticks = 0;
  for (int index = 3; index <= 17 && fields >> field; ++index) {
    if (index >= 14) ticks += std::stod(field);
  }
  return ticks * 1000.0 / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// What a stranger's attempt costs the root helper: the helper's CPU for 20 connections,
// one after another, of a 62 MiB executable whose signature names the application and
// its team but chains to an anchor of the stranger's own. ZEPHRO_BENCH_HELPER measures
// another helper binary (an older build, say).
void BM_RefusingAForeignAnchoredExecutable(benchmark::State& state) {
  const auto dir = freshDir();
  const auto client = dir / "foreign-client";
  std::filesystem::copy_file("/proc/self/exe", client);
  std::filesystem::resize_file(client, std::uintmax_t{62} << 20);
  const auto anchor = codesign::KeyPair::generate();
  const auto team = codesign::KeyPair::generate();
  codesign::signFile(client, "com.zephro.app", team.secret,
                     codesign::TeamCertificate::issue(anchor.secret, "Q7K2M9T4XW", team.publicKey));
  std::filesystem::permissions(client, std::filesystem::perms::owner_all);

  const char* other = std::getenv("ZEPHRO_BENCH_HELPER");
  const std::string helperBinary = other != nullptr ? other : HELPER_BINARY;
  const auto socket = (dir / "helper.sock").string();
  const auto log = dir / "helper.log";
  const std::string smcSpec = "emulated:macbookpro16-1,state=" + (dir / "state.json").string();
  const auto spawnWith = [](std::vector<std::string> argv, const std::string& err) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    pid_t pid = -1;
    posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
  };
  ::setenv("ZEPHRO_HELPER_SOCKET", socket.c_str(), 1);
  const pid_t helper = spawnWith(
      {helperBinary, "--smc", smcSpec, "--anchor-key", ZEPHRO_DEV_ANCHOR_KEY}, log.string());
  const auto readLog = [&] {
    std::ifstream in(log);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  while (readLog().find("XPC listener is running.") == std::string::npos) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }

  for ([[maybe_unused]] auto _ : state) {
    const double before = cpuMillis(helper);
    for (int i = 0; i < 20; ++i) {
      const pid_t pid = spawnWith({client.string(), "--connect-and-wait", socket}, "/dev/null");
      int status = 0;
      ::waitpid(pid, &status, 0);
    }
    state.counters["helper_cpu_ms"] = cpuMillis(helper) - before;
  }
  // How many of the 20 were checked; the rest met the pause for repeated refusals.
  const auto text = readLog();
  std::size_t checked = 0;
  for (auto at = text.find("failed code requirement"); at != std::string::npos;
       at = text.find("failed code requirement", at + 1)) {
    ++checked;
  }
  state.counters["checked"] = static_cast<double>(checked);
  ::kill(helper, SIGTERM);
  int status = 0;
  ::waitpid(helper, &status, 0);
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_RefusingAForeignAnchoredExecutable)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// The client that BM_RefusingAForeignAnchoredExecutable signs: connects and waits until
// the helper closes the connection.
int connectAndWait(const std::string& socket) {
  std::string error;
  const auto fd = xpc::connectUnixSocket(socket, error);
  if (!fd.valid()) return 1;
  char byte = 0;
  while (::read(fd.get(), &byte, 1) > 0) {
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string_view(argv[1]) == "--connect-and-wait")
    return connectAndWait(argv[2]);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

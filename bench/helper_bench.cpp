// The helper's request latency over its socket, and how long it takes to start.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <future>
#include <thread>

#include "bench/BenchSupport.h"
#include "helper/HelperService.h"
#include "platform/codesign/Keys.h"
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

}  // namespace

BENCHMARK_MAIN();

#include "app/services/telemetry/CrashReport.h"

#include <cxxabi.h>
#include <execinfo.h>
#include <fcntl.h>
#include <unistd.h>

#include <QtConcurrent/QtConcurrentRun>
#include <array>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <memory>
#include <sstream>
#include <typeinfo>

#include "app/services/telemetry/TelemetryRecords.h"
#include "app/services/telemetry/TelemetryReporter.h"
#include "platform/log/Log.h"

namespace zephro::telemetry {
namespace {

constexpr int kMaximumFrames = 128;

std::terminate_handler& previousHandler() {
  static std::terminate_handler handler = nullptr;
  return handler;
}

std::string demangled(const char* name) {
  int status = 0;
  const std::unique_ptr<char, decltype(&std::free)> readable(
      abi::__cxa_demangle(name, nullptr, nullptr, &status), &std::free);
  return status == 0 && readable ? std::string(readable.get()) : std::string(name);
}

// The frames of the thread that is dying, one text per frame. An exception no one
// catches is not unwound before terminate runs, so the thrower's frames are still there.
std::vector<std::string> callStack() {
  std::array<void*, kMaximumFrames> frames{};
  const int count = ::backtrace(frames.data(), kMaximumFrames);
  std::vector<std::string> lines;
  const std::unique_ptr<char*, decltype(&std::free)> symbols(
      ::backtrace_symbols(frames.data(), count), &std::free);
  if (!symbols) return lines;
  for (int i = 0; i < count; ++i) lines.emplace_back(symbols.get()[i]);
  return lines;
}

bool writeAll(int fd, const std::string& bytes) {
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t result = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (result <= 0) return false;
    written += static_cast<std::size_t>(result);
  }
  return true;
}

// Replaces the file with bytes, so a reader sees the old file or the new one, never half.
void replaceAtomically(const std::filesystem::path& file, const std::string& bytes) {
  const std::string temporary = file.string() + ".tmp-" + std::to_string(::getpid());
  const int fd =
      ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return;
  const bool complete = writeAll(fd, bytes) && ::fsync(fd) == 0;
  ::close(fd);
  if (!complete || ::rename(temporary.c_str(), file.c_str()) != 0) ::unlink(temporary.c_str());
}

struct ExceptionDescription {
  std::string name;
  std::string reason;
};

// The type of the exception in flight and its what(), "unknown" where there is none.
ExceptionDescription describe(const std::exception_ptr& exception) {
  const std::type_info* type = abi::__cxa_current_exception_type();
  ExceptionDescription description{type ? demangled(type->name()) : std::string("unknown"),
                                   "unknown"};
  try {
    std::rethrow_exception(exception);
  } catch (const std::exception& error) {
    if (error.what() != nullptr && *error.what() != '\0') description.reason = error.what();
  } catch (...) {
    // Something that is no std::exception has no reason to give.
  }
  return description;
}

[[noreturn]] void terminateWithReport() {
  if (const std::exception_ptr exception = std::current_exception()) {
    const ExceptionDescription description = describe(exception);
    recordCrash(description.name, description.reason, callStack());
  }
  if (std::terminate_handler previous = previousHandler()) previous();
  std::abort();
}

std::optional<std::string> readBounded(const std::filesystem::path& file) {
  std::error_code error;
  const auto size = std::filesystem::file_size(file, error);
  if (error || size > kMaximumCrashFileSize) return std::nullopt;
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return bytes.str();
}

void sendPendingCrash(const nlohmann::json& crash, const std::filesystem::path& file,
                      const TelemetrySettings& settings) {
  bool sent = false;
  try {
    const std::string bytes = crash.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    sent = postBlocking(QStringLiteral("/telemetry/crash"), QByteArray::fromStdString(bytes),
                        settings);
  } catch (const nlohmann::json::exception&) {
    // Not encodable again: it stays for the next launch, like a failed send.
  }
  if (!sent) {
    log::write(telemetryChannel(), log::Level::error,
               "Failed to flush crash report; will retry next launch.");
    return;
  }
  std::error_code ignored;
  std::filesystem::remove(file, ignored);
  log::write(telemetryChannel(), log::Level::info, "Flushed pending crash report.");
}

}  // namespace

void recordCrash(const std::string& name, const std::string& reason,
                 const std::vector<std::string>& callStack, const TelemetrySettings& settings) {
  try {
    const auto file = settings.pendingCrashFile();
    if (!file) return;
    const Crash crash{name, reason, callStack, TelemetryContext::shared(), secondsSinceEpoch()};
    replaceAtomically(*file, encode(crash.toJson()));
  } catch (...) {
    // The process is ending; there is no one left to tell.
  }
}

void installCrashHandler() {
  (void)TelemetrySettings::shared();
  (void)TelemetryContext::shared();
  const std::terminate_handler previous = std::set_terminate(terminateWithReport);
  if (previous != terminateWithReport) previousHandler() = previous;
}

std::optional<nlohmann::json> parsePendingCrash(std::string_view bytes) {
  nlohmann::json parsed = nlohmann::json::parse(bytes, nullptr, false);
  if (parsed.is_discarded()) return std::nullopt;
  return parsed;
}

QFuture<void> flushPendingCrash(const TelemetrySettings& settings) {
  const auto file = settings.pendingCrashFile();
  if (!file) return {};
  const auto bytes = readBounded(*file);
  if (!bytes) return {};
  auto crash = parsePendingCrash(*bytes);
  if (!crash) return {};
  return QtConcurrent::run([crash = std::move(*crash), file = *file, settings = settings] {
    sendPendingCrash(crash, file, settings);
  });
}

}  // namespace zephro::telemetry

#pragma once

#include <QDBusConnection>
#include <QStringList>
#include <QTextStream>

namespace zephro::ctl {

// zephroctl's exit codes, as --help and docs/automation.md list them.
enum ExitCode : int {
  kSuccess = 0,
  kFailed = 1,
  kBadArguments = 2,
  kPresetNotFound = 3,
  kAppNotReady = 4,
  kHelperUnreachable = 5,
  kBusUnavailable = 6,
};

// Runs one zephroctl command (arguments without the program name) against Zephro on
// `bus`: answers go to `out`, errors to `err`. Returns the exit code.
[[nodiscard]] int run(const QStringList& arguments, const QDBusConnection& bus, QTextStream& out,
                      QTextStream& err);

}  // namespace zephro::ctl

// A program that dies of an exception no one catches, with the crash handler installed:
//   crasher runtime-error | no-reason | not-an-exception
#include <stdexcept>
#include <string_view>

#include "app/services/telemetry/CrashReport.h"

int main(int argc, char** argv) {
  zephro::telemetry::installCrashHandler();
  const std::string_view kind = argc > 1 ? argv[1] : "runtime-error";
  if (kind == "no-reason") throw std::runtime_error("");
  if (kind == "not-an-exception") throw 42;
  throw std::runtime_error("The fans are on fire.");
}

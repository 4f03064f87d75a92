// zephro-smc: looks into and pokes a fan controller, emulated or real (the helper's --smc
// backends), for debugging and the demo. Reads and writes go through SMCWrapperObjC, as
// the helper's do.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "helper/SMCWrapperObjC.h"
#include "platform/log/Log.h"
#include "platform/smc/EmulatedSmc.h"
#include "platform/smc/FourCharCode.h"
#include "platform/smc/UserClient.h"

namespace {

using namespace zephro;

constexpr const char* kUsage =
    "usage: zephro-smc --machine PROFILE [--state FILE] COMMAND\n"
    "       zephro-smc --smc SPEC COMMAND\n"
    "  PROFILE       a machine profile name (e.g. macbookpro16-1) or a .json path\n"
    "  SPEC          a helper backend: auto, applesmc, applesmc:DIR, macsmc:DIR or\n"
    "                emulated:PROFILE[,state=FILE] (keys needs --machine)\n"
    "commands:\n"
    "  keys          every key with its type, size, access and raw bytes\n"
    "  read KEY      a key's value as the helper reads it, and its bytes\n"
    "  write KEY V   write the number V in the key's own encoding,\n"
    "                or raw bytes when V is hex (0x1770)\n"
    "  fans          the fan table: actual, target, min, max, force bit, mode\n"
    "  temp          the system temperature as the helper reads it\n"
    "  -v            print the SMC log lines the command produced\n";

std::string hex(std::span<const std::uint8_t> bytes) {
  std::string text;
  char digits[3];
  for (const auto byte : bytes) {
    std::snprintf(digits, sizeof digits, "%02x", byte);
    text += digits;
  }
  return text;
}

std::optional<std::vector<std::uint8_t>> parseHex(const std::string& text) {
  if (text.size() < 3 || text.size() % 2 != 0 || text.substr(0, 2) != "0x") return std::nullopt;
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 2; i < text.size(); i += 2) {
    char* end = nullptr;
    const std::string pair = text.substr(i, 2);
    const long value = std::strtol(pair.c_str(), &end, 16);
    if (end != pair.c_str() + 2) return std::nullopt;
    bytes.push_back(static_cast<std::uint8_t>(value));
  }
  if (bytes.size() > 32) return std::nullopt;
  return bytes;
}

int listKeys(smc::EmulatedSmc& smc) {
  for (const auto& name : smc.keyNames()) {
    const auto entry = smc.key(name);
    std::printf("'%s'  %s  %u  %s  %s\n", name.c_str(),
                smc::unpackFourCharCode(entry->type).c_str(), entry->size,
                entry->writable() ? "rw" : "r-", hex(entry->value()).c_str());
  }
  return 0;
}

int readKey(SMCWrapperObjC& wrapper, const std::string& key) {
  SMCKeyValue value;
  if (const auto status = wrapper.SMCReadKey(key, value); status != 0) {
    std::fprintf(stderr, "zephro-smc: cannot read '%s' (status %d)\n", key.c_str(), status);
    return 1;
  }
  std::printf("'%s' type '%s' value %.2f bytes %s\n", key.c_str(),
              smc::unpackFourCharCode(value.dataType).c_str(), wrapper.readFloatKey(key),
              hex(std::span(value.bytes).first(4)).c_str());
  return 0;
}

int writeKey(SMCWrapperObjC& wrapper, const std::string& key, const std::string& text) {
  if (const auto bytes = parseHex(text)) {
    SMCKeyValue value;
    value.key = smc::packFourCharCode(key);
    std::copy(bytes->begin(), bytes->end(), value.bytes.begin());
    if (const auto status = wrapper.SMCWriteKey(value); status != 0) {
      std::fprintf(stderr, "zephro-smc: cannot write '%s' (status %d)\n", key.c_str(), status);
      return 1;
    }
    return 0;
  }
  char* end = nullptr;
  const double number = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || *end != '\0') {
    std::fprintf(stderr, "zephro-smc: '%s' is neither a number nor 0x-prefixed hex\n",
                 text.c_str());
    return 2;
  }
  Error error;
  if (!wrapper.writeFloatKey(key, number, &error)) {
    std::fprintf(stderr, "zephro-smc: %s\n", error.fullDescription().c_str());
    return 1;
  }
  return 0;
}

int showFans(smc::EmulatedSmc& smc, SMCWrapperObjC& wrapper) {
  std::printf("%s: %zu fan(s)\n", smc.profile().model.c_str(), smc.fanCount());
  for (std::size_t fan = 0; fan < smc.fanCount(); ++fan) {
    const auto mode = smc.modeValue(fan);
    const auto index = static_cast<std::int64_t>(fan);
    std::printf("fan%zu: actual=%.1f target=%.1f min=%.1f max=%.1f bit=%d mode=%s %s\n", fan,
                smc.fanActual(fan), smc.fanTarget(fan), wrapper.fanMinSpeedForIndex(index),
                wrapper.fanMaxSpeedForIndex(index), (smc.forceMask() >> fan) & 1,
                mode ? std::to_string(*mode).c_str() : "-",
                smc.isFanForced(fan) ? "FORCED" : "automatic");
  }
  if (const auto ftst = smc.ftst()) std::printf("Ftst=%d\n", *ftst);
  return 0;
}

// The fan table as the helper sees it, for any backend; a fan that cannot be read is an
// error, as it is for the helper.
int showFansThroughTheHelpersReads(SMCWrapperObjC& wrapper) {
  const std::int64_t count = wrapper.fanCount();
  if (count < 0) {
    std::fputs("zephro-smc: cannot read FNum\n", stderr);
    return 1;
  }
  std::printf("%lld fan(s)\n", static_cast<long long>(count));
  for (std::int64_t fan = 0; fan < count; ++fan) {
    SMCWrapperObjC::FanReadings readings;
    if (Error error; !wrapper.readFan(fan, readings, &error)) {
      std::fprintf(stderr, "zephro-smc: fan%lld: %s\n", static_cast<long long>(fan),
                   error.fullDescription().c_str());
      return 1;
    }
    std::printf("fan%lld: actual=%.1f min=%.1f max=%.1f %s\n", static_cast<long long>(fan),
                readings.actual, readings.minimum, readings.maximum,
                wrapper.isFanUnderManualControlForIndex(fan) ? "FORCED" : "automatic");
  }
  return 0;
}

int runCommand(SMCWrapperObjC& wrapper, const std::vector<std::string>& command) {
  const auto& verb = command[0];
  if (verb == "read" && command.size() == 2) return readKey(wrapper, command[1]);
  if (verb == "write" && command.size() == 3) return writeKey(wrapper, command[1], command[2]);
  if (verb == "fans" && command.size() == 1) return showFansThroughTheHelpersReads(wrapper);
  if (verb == "temp" && command.size() == 1) {
    double celsius = 0.0;
    if (Error error; !wrapper.readSystemTemperature(celsius, &error)) {
      std::fprintf(stderr, "zephro-smc: %s\n", error.fullDescription().c_str());
      return 1;
    }
    std::printf("%.2f\n", celsius);
    return 0;
  }
  std::fputs(kUsage, stderr);
  return 2;
}

int runOnBackend(const std::string& spec, const std::vector<std::string>& command) {
  auto client = smc::makeUserClient(spec);
  const std::string backend = client->description();
  Error error;
  auto wrapper =
      SMCWrapperObjC::create(std::move(client), std::make_shared<ThreadSleeper>(), &error);
  if (!wrapper) {
    std::fprintf(stderr, "zephro-smc: %s (%s)\n", error.localizedDescription().c_str(),
                 backend.c_str());
    return 1;
  }
  // What the helper would log at start-up: the driver, where, and what it can do.
  if (command[0] == "fans") std::printf("%s\n", backend.c_str());
  return runCommand(*wrapper, command);
}

}  // namespace

int run(int argc, char** argv) {
  std::string machine;
  std::string state;
  std::string spec;
  std::vector<std::string> command;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if ((argument == "--machine" || argument == "--state") && i + 1 < argc) {
      (argument == "--machine" ? machine : state) = argv[++i];
    } else if (argument == "--smc" && i + 1 < argc) {
      spec = argv[++i];
    } else if (argument == "-v") {
      continue;
    } else if (argument == "--help" || argument == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else {
      command.push_back(argument);
    }
  }
  if (command.empty() || machine.empty() == spec.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (!spec.empty()) return runOnBackend(spec, command);

  const auto path = smc::findMachineProfile(machine);
  if (!path) {
    std::fprintf(stderr, "zephro-smc: machine profile '%s' not found\n", machine.c_str());
    return 1;
  }
  std::shared_ptr<smc::EmulatedSmc> smc;
  try {
    smc = std::make_shared<smc::EmulatedSmc>(
        smc::MachineProfile::load(*path),
        state.empty() ? std::nullopt : std::optional<std::filesystem::path>(state));
  } catch (const std::exception& error) {
    std::fprintf(stderr, "zephro-smc: %s\n", error.what());
    return 1;
  }
  auto wrapper = SMCWrapperObjC::create(std::make_unique<smc::EmulatedUserClient>(smc),
                                        std::make_shared<ThreadSleeper>());

  const auto& verb = command[0];
  if (verb == "keys" && command.size() == 1) return listKeys(*smc);
  if (verb == "read" && command.size() == 2) return readKey(*wrapper, command[1]);
  if (verb == "write" && command.size() == 3) return writeKey(*wrapper, command[1], command[2]);
  if (verb == "fans" && command.size() == 1) return showFans(*smc, *wrapper);
  if (verb == "temp" && command.size() == 1) {
    std::printf("%.2f\n", wrapper->systemTemperature());
    return 0;
  }
  std::fputs(kUsage, stderr);
  return 2;
}

int main(int argc, char** argv) {
  log::setProgramName("zephro-smc");
  // The wrapper's lines would read like the helper's in the system log; keep them
  // here and show them only on request.
  log::Capture lines;
  const int status = run(argc, argv);
  const bool verbose = std::find(argv + 1, argv + argc, std::string("-v")) != argv + argc;
  if (verbose) {
    for (const auto& line : lines.lines()) std::fprintf(stderr, "%s\n", line.c_str());
  }
  return status;
}

#include "platform/smc/EmulatedSmc.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <nlohmann/json.hpp>

#include "platform/log/Log.h"
#include "platform/smc/FourCharCode.h"
#include "platform/smc/ValueCodec.h"

namespace zephro::smc {
namespace {

using nlohmann::json;

constexpr std::uint32_t kKeyFtst = packFourCharCode("Ftst");
constexpr std::uint8_t kReadOnly = kAttributeReadable;
constexpr std::uint8_t kReadWrite = kAttributeReadable | kAttributeWritable;
constexpr double kStepSeconds = 0.1;
constexpr int kMaxSteps = 3000;

std::uint32_t fanKey(std::size_t fan, std::string_view suffix) {
  std::string name = "F";
  name += std::to_string(fan);
  name += suffix;
  return packFourCharCode(name);
}

std::uint32_t formatFanKey(const std::string& format, std::size_t fan) {
  std::string name = format;
  if (const auto at = name.find("%d"); at != std::string::npos) {
    name.replace(at, 2, std::to_string(fan));
  }
  return packFourCharCode(name);
}

KeyEntry makeEntry(std::uint32_t type, std::uint8_t attributes) {
  KeyEntry entry;
  entry.type = type;
  entry.size = sizeOfType(type);
  entry.attributes = attributes;
  return entry;
}

void encodeNumber(KeyEntry& entry, double value) {
  std::span<std::uint8_t> bytes(entry.bytes);
  if (entry.type == kTypeFpe2) {
    storeBigEndian16(encodeFpe2(value), bytes);
  } else if (entry.type == kTypeSp78) {
    storeBigEndian16(encodeSp78(value), bytes);
  } else if (entry.type == kTypeFlt) {
    storeFlt(value, bytes);
  }
}

std::string toHex(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (const auto byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0xF];
  }
  return text;
}

std::optional<std::vector<std::uint8_t>> fromHex(const std::string& text) {
  if (text.size() % 2 != 0) return std::nullopt;
  const auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int high = digit(text[i]);
    const int low = digit(text[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
  }
  return bytes;
}

}  // namespace

std::uint32_t sizeOfType(std::uint32_t type) {
  if (type == kTypeUi8) return 1;
  if (type == kTypeUi16 || type == kTypeFpe2 || type == kTypeSp78) return 2;
  if (type == kTypeUi32 || type == kTypeFlt) return 4;
  return 0;
}

bool KeyEntry::writable() const {
  return (attributes & kAttributeWritable) != 0;
}

EmulatedSmc::EmulatedSmc(MachineProfile profile, std::optional<std::filesystem::path> stateFile,
                         std::shared_ptr<const Clock> clock)
    : profile_(std::move(profile)),
      clock_(clock ? std::move(clock) : std::make_shared<SystemClock>()),
      stateFilePath_(std::move(stateFile)) {
  state_ = initialState();
  settleAtIdle();
  if (stateFilePath_) {
    stateFile_ = std::make_unique<StateFile>(*stateFilePath_);
    const std::lock_guard lock(mutex_);
    const auto guard = catchUp();
  }
}

EmulatedSmc::~EmulatedSmc() = default;

const std::optional<std::filesystem::path>& EmulatedSmc::stateFilePath() const {
  return stateFilePath_;
}

EmulatedSmc::State EmulatedSmc::initialState() const {
  State state;
  state.timeNs = clock_->now().count();
  const auto speedType = packFourCharCode(profile_.fanSpeedType);

  auto fnum = makeEntry(kTypeUi8, kReadOnly);
  fnum.bytes[0] = static_cast<std::uint8_t>(profile_.fans.size());
  state.keys[kKeyFNum] = fnum;
  if (profile_.hasForceMask) state.keys[kKeyForceMask] = makeEntry(kTypeUi16, kReadWrite);
  if (profile_.hasFtst) state.keys[kKeyFtst] = makeEntry(kTypeUi8, kReadWrite);

  for (std::size_t fan = 0; fan < profile_.fans.size(); ++fan) {
    const auto& fanProfile = profile_.fans[fan];
    auto minimum = makeEntry(speedType, kReadOnly);
    encodeNumber(minimum, fanProfile.minRPM);
    auto maximum = makeEntry(speedType, kReadOnly);
    encodeNumber(maximum, fanProfile.maxRPM);
    state.keys[fanKey(fan, "Mn")] = minimum;
    state.keys[fanKey(fan, "Mx")] = maximum;
    state.keys[fanKey(fan, "Ac")] = makeEntry(speedType, kReadOnly);
    state.keys[fanKey(fan, "Tg")] = makeEntry(speedType, kReadWrite);
    if (profile_.modeKeyFormat) {
      auto mode = makeEntry(kTypeUi8, kReadWrite);
      mode.bytes[0] = profile_.initialMode;
      state.keys[formatFanKey(*profile_.modeKeyFormat, fan)] = mode;
    }
  }
  for (const auto& sensor : profile_.sensors) {
    state.keys[packFourCharCode(sensor.key)] = makeEntry(packFourCharCode(sensor.type), kReadOnly);
  }
  return state;
}

// Locks the state file (when there is one), adopts another process's newer state,
// and moves the model forward to the clock's present. Called with mutex_ held.
std::optional<StateFile::Guard> EmulatedSmc::catchUp() {
  std::optional<StateFile::Guard> guard;
  bool firstRun = false;
  if (stateFile_) {
    guard.emplace(stateFile_->lock());
    const auto reading = stateFile_->readIfChanged();
    const bool unreadable = reading.change == StateFile::Change::unreadable;
    if (unreadable ||
        (reading.change == StateFile::Change::changed && !deserialize(reading.content))) {
      log::write("[EmulatedSmc] Ignoring unreadable state file " + stateFile_->path().string());
    }
    // Storing replaces whatever stood in the file's place, a link included.
    firstRun = unreadable || reading.change == StateFile::Change::missing;
  }
  advanceTo(clock_->now().count());
  publishReadings();
  if (firstRun) commit();
  return guard;
}

// A machine that has been running for a while: the die and the fans sit where the
// firmware's curve balances them.
void EmulatedSmc::settleAtIdle() {
  state_.dieC = profile_.thermal.ambientC + profile_.thermal.heatLoadC;
  state_.actualRPM.clear();
  for (const auto& fan : profile_.fans) state_.actualRPM.push_back(fan.minRPM);
  integrate(600);
  for (std::size_t fan = 0; fan < profile_.fans.size(); ++fan) {
    encodeNumber(state_.keys[fanKey(fan, "Tg")], automaticTarget(fan));
  }
  publishReadings();
}

void EmulatedSmc::advanceTo(std::int64_t nowNs) {
  if (nowNs <= state_.timeNs) return;
  const double seconds = static_cast<double>(nowNs - state_.timeNs) / 1e9;
  state_.timeNs = nowNs;
  integrate(seconds);
  publishReadings();
}

void EmulatedSmc::integrate(double seconds) {
  const int steps = std::clamp(static_cast<int>(std::ceil(seconds / kStepSeconds)), 1, kMaxSteps);
  const double h = seconds / steps;
  const auto& thermal = profile_.thermal;
  for (int step = 0; step < steps; ++step) {
    double airflow = 0;
    for (std::size_t fan = 0; fan < profile_.fans.size(); ++fan) {
      const double target = forced(fan) ? targetOf(fan) : automaticTarget(fan);
      double& actual = state_.actualRPM[fan];
      const double reach = profile_.rampRPMPerSecond * h;
      actual += std::clamp(target - actual, -reach, reach);
      airflow += actual / profile_.fans[fan].physicalMaxRPM;
    }
    if (!profile_.fans.empty()) airflow /= static_cast<double>(profile_.fans.size());
    const double equilibrium =
        thermal.ambientC + thermal.heatLoadC / (1 + thermal.cooling * airflow);
    state_.dieC += (equilibrium - state_.dieC) * (1 - std::exp(-h / thermal.timeConstantSeconds));
  }
}

// Writes the model's readings into the keys that report them.
void EmulatedSmc::publishReadings() {
  for (std::size_t fan = 0; fan < profile_.fans.size() && fan < state_.actualRPM.size(); ++fan) {
    if (auto* actual = find(fanKey(fan, "Ac"))) encodeNumber(*actual, state_.actualRPM[fan]);
  }
  for (const auto& sensor : profile_.sensors) {
    if (auto* entry = find(packFourCharCode(sensor.key))) {
      encodeNumber(*entry, state_.dieC + sensor.offset);
    }
  }
}

void EmulatedSmc::commit() {
  ++state_.generation;
  if (!stateFile_) return;
  try {
    stateFile_->store(serialize());
  } catch (const std::exception& error) {
    log::write(std::string("[EmulatedSmc] Cannot save state: ") + error.what());
  }
}

KernReturn EmulatedSmc::execute(const SMCParamBlock& input, SMCParamBlock& output) {
  const std::lock_guard lock(mutex_);
  const auto guard = catchUp();
  output = input;
  output.result = 0;
  bool changed = false;
  const KernReturn status = dispatch(input, output, changed);
  if (changed) commit();
  ++callCount_;
  if (callLogCapacity_ > 0) {
    if (callLog_.size() >= callLogCapacity_) callLog_.pop_front();
    callLog_.push_back({input.data8, input.key, status});
  }
  return status;
}

KernReturn EmulatedSmc::dispatch(const SMCParamBlock& input, SMCParamBlock& output, bool& changed) {
  const auto command = input.data8;
  if (command != kCommandReadKeyInfo && command != kCommandReadValue &&
      command != kCommandWriteValue) {
    return kIOReturnBadArgument;
  }
  const auto fault = std::find_if(state_.faults.begin(), state_.faults.end(), [&](const Fault& f) {
    return f.key == input.key && f.command == command;
  });
  if (fault != state_.faults.end()) {
    const KernReturn status = fault->status;
    if (fault->remaining != kAlways && --fault->remaining <= 0) state_.faults.erase(fault);
    changed = true;
    return status;
  }
  KeyEntry* entry = find(input.key);
  if (entry == nullptr) return kIOReturnNotFound;

  switch (command) {
    case kCommandReadKeyInfo:
      output.keyInfo = SMCKeyInfoData{entry->size, entry->type, entry->attributes, {0, 0, 0}};
      return kIOReturnSuccess;
    case kCommandReadValue:
      if (input.keyInfo.dataSize != entry->size) return kIOReturnBadArgument;
      output.bytes.fill(0);
      std::copy_n(entry->bytes.begin(), entry->size, output.bytes.begin());
      return kIOReturnSuccess;
    default:
      if (!entry->writable()) return kIOReturnNotPrivileged;
      if (input.keyInfo.dataSize != entry->size) return kIOReturnBadArgument;
      std::copy_n(input.bytes.begin(), entry->size, entry->bytes.begin());
      reactToWrite(input.key);
      changed = true;
      return kIOReturnSuccess;
  }
}

// The thermal daemon takes a mode key back as soon as it is written, unless the
// machine has been unlocked for diagnostics.
void EmulatedSmc::reactToWrite(std::uint32_t key) {
  if (profile_.thermalDaemon == ThermalDaemon::none) return;
  for (std::size_t fan = 0; fan < profile_.fans.size(); ++fan) {
    if (modeKeyOf(fan) != key) continue;
    const auto* unlock = find(kKeyFtst);
    const bool unlocked = unlock != nullptr && unlock->bytes[0] == 1;
    if (profile_.thermalDaemon == ThermalDaemon::always || !unlocked) find(key)->bytes[0] = 3;
  }
}

const KeyEntry* EmulatedSmc::find(std::uint32_t key) const {
  const auto it = state_.keys.find(key);
  return it == state_.keys.end() ? nullptr : &it->second;
}

KeyEntry* EmulatedSmc::find(std::uint32_t key) {
  const auto it = state_.keys.find(key);
  return it == state_.keys.end() ? nullptr : &it->second;
}

std::optional<std::uint32_t> EmulatedSmc::modeKeyOf(std::size_t fan) const {
  if (!profile_.modeKeyFormat) return std::nullopt;
  return formatFanKey(*profile_.modeKeyFormat, fan);
}

std::uint16_t EmulatedSmc::currentForceMask() const {
  const auto* entry = find(kKeyForceMask);
  return entry == nullptr ? 0 : loadBigEndian16(entry->bytes);
}

std::optional<std::uint8_t> EmulatedSmc::currentMode(std::size_t fan) const {
  const auto key = modeKeyOf(fan);
  if (!key) return std::nullopt;
  const auto* entry = find(*key);
  if (entry == nullptr) return std::nullopt;
  return entry->bytes[0];
}

bool EmulatedSmc::forced(std::size_t fan) const {
  if (fan >= 16 || (currentForceMask() & (1U << fan)) == 0) return false;
  if (!profile_.modeKeyFormat) return true;
  return currentMode(fan) == 1;
}

double EmulatedSmc::decodeSpeed(const KeyEntry& entry) const {
  if (entry.type == kTypeFpe2) return decodeFpe2(entry.bytes);
  if (entry.type == kTypeFlt) return decodeFlt(entry.bytes);
  if (entry.type == kTypeSp78) return decodeSp78(entry.bytes);
  return 0;
}

double EmulatedSmc::targetOf(std::size_t fan) const {
  const auto& fanProfile = profile_.fans[fan];
  const auto* entry = find(fanKey(fan, "Tg"));
  const double requested = entry == nullptr ? fanProfile.minRPM : decodeSpeed(*entry);
  // A motor controller cannot spin a fan at NaN RPM; it keeps the fan at its minimum.
  if (std::isnan(requested)) return fanProfile.minRPM;
  return std::clamp(requested, 0.0, fanProfile.physicalMaxRPM);
}

double EmulatedSmc::automaticTarget(std::size_t fan) const {
  const auto& fanProfile = profile_.fans[fan];
  const auto& thermal = profile_.thermal;
  const double share = std::clamp(
      (state_.dieC - thermal.curveLowC) / (thermal.curveHighC - thermal.curveLowC), 0.0, 1.0);
  return fanProfile.minRPM + share * (fanProfile.physicalMaxRPM - fanProfile.minRPM);
}

std::string EmulatedSmc::serialize() const {
  json keys = json::array();
  for (const auto& [code, entry] : state_.keys) {
    keys.push_back({{"code", code},
                    {"type", entry.type},
                    {"size", entry.size},
                    {"attributes", entry.attributes},
                    {"bytes", toHex(entry.bytes)}});
  }
  json faults = json::array();
  for (const auto& fault : state_.faults) {
    faults.push_back({{"key", fault.key},
                      {"command", fault.command},
                      {"status", fault.status},
                      {"remaining", fault.remaining}});
  }
  const json root = {
      {"model", profile_.model}, {"generation", state_.generation}, {"timeNs", state_.timeNs},
      {"dieC", state_.dieC},     {"actualRPM", state_.actualRPM},   {"keys", keys},
      {"faults", faults}};
  return root.dump(1) + "\n";
}

// Adopts a state written by any process; anything malformed or belonging to another
// machine is refused whole so the model never runs on half a state.
bool EmulatedSmc::deserialize(const std::string& content) {
  const json root = json::parse(content, nullptr, /*allow_exceptions=*/false);
  if (!root.is_object()) return false;
  try {
    if (root.at("model").get<std::string>() != profile_.model) return false;
    State state;
    state.generation = root.at("generation").get<std::uint64_t>();
    state.timeNs = root.at("timeNs").get<std::int64_t>();
    state.dieC = root.at("dieC").get<double>();
    state.actualRPM = root.at("actualRPM").get<std::vector<double>>();
    if (state.actualRPM.size() != profile_.fans.size() || !std::isfinite(state.dieC)) return false;
    for (const double rpm : state.actualRPM) {
      if (!std::isfinite(rpm)) return false;
    }
    for (const auto& item : root.at("keys")) {
      KeyEntry entry;
      entry.type = item.at("type").get<std::uint32_t>();
      entry.size = item.at("size").get<std::uint32_t>();
      entry.attributes = item.at("attributes").get<std::uint8_t>();
      const auto bytes = fromHex(item.at("bytes").get<std::string>());
      if (!bytes || bytes->size() != entry.bytes.size() || entry.size > entry.bytes.size()) {
        return false;
      }
      std::copy(bytes->begin(), bytes->end(), entry.bytes.begin());
      state.keys[item.at("code").get<std::uint32_t>()] = entry;
    }
    for (const auto& item : root.at("faults")) {
      state.faults.push_back(
          {item.at("key").get<std::uint32_t>(), item.at("command").get<std::uint8_t>(),
           item.at("status").get<KernReturn>(), item.at("remaining").get<int>()});
    }
    state_ = std::move(state);
    return true;
  } catch (const json::exception&) {
    return false;
  }
}

std::vector<std::string> EmulatedSmc::keyNames() {
  const std::lock_guard lock(mutex_);
  const auto guard = catchUp();
  std::vector<std::string> names;
  for (const auto& [code, entry] : state_.keys) names.push_back(unpackFourCharCode(code));
  return names;
}

std::optional<KeyEntry> EmulatedSmc::key(std::string_view name) {
  const std::lock_guard lock(mutex_);
  const auto guard = catchUp();
  const auto* entry = find(packFourCharCode(name));
  if (entry == nullptr) return std::nullopt;
  return *entry;
}

double EmulatedSmc::fanTarget(std::size_t fan) {
  const std::lock_guard lock(mutex_);
  const auto guard = catchUp();
  const auto* entry = find(fanKey(fan, "Tg"));
  return entry == nullptr ? 0.0 : decodeSpeed(*entry);
}

double EmulatedSmc::fanActual(std::size_t fan) {
  const std::lock_guard lock(mutex_);
  const auto guard = catchUp();
  return fan < state_.actualRPM.size() ? state_.actualRPM[fan] : 0.0;
}

bool EmulatedSmc::isFanForced(std::size_t fan) {
  const std::lock_guard lock(mutex_);
  const auto guard = catchUp();
  return fan < profile_.fans.size() && forced(fan);
}

std::uint16_t EmulatedSmc::forceMask() {
  const std::lock_guard lock(mutex_);
  const auto guard = catchUp();
  return currentForceMask();
}

std::optional<std::uint8_t> EmulatedSmc::modeValue(std::size_t fan) {
  const std::lock_guard lock(mutex_);
  const auto guard = catchUp();
  return currentMode(fan);
}

std::optional<std::uint8_t> EmulatedSmc::ftst() {
  const std::lock_guard lock(mutex_);
  const auto guard = catchUp();
  const auto* entry = find(kKeyFtst);
  if (entry == nullptr) return std::nullopt;
  return entry->bytes[0];
}

double EmulatedSmc::dieTemperature() {
  const std::lock_guard lock(mutex_);
  const auto guard = catchUp();
  return state_.dieC;
}

std::vector<CallRecord> EmulatedSmc::callLog() const {
  const std::lock_guard lock(mutex_);
  return {callLog_.begin(), callLog_.end()};
}

std::uint64_t EmulatedSmc::callCount() const {
  const std::lock_guard lock(mutex_);
  return callCount_;
}

void EmulatedSmc::clearCallLog() {
  const std::lock_guard lock(mutex_);
  callLog_.clear();
}

void EmulatedSmc::setCallLogCapacity(std::size_t capacity) {
  const std::lock_guard lock(mutex_);
  callLogCapacity_ = capacity;
  while (callLog_.size() > capacity) callLog_.pop_front();
}

void EmulatedSmc::setKeyBytes(std::string_view name, std::span<const std::uint8_t> bytes) {
  const std::lock_guard lock(mutex_);
  const auto guard = catchUp();
  auto* entry = find(packFourCharCode(name));
  if (entry == nullptr) throw std::invalid_argument("no key '" + std::string(name) + "'");
  entry->bytes.fill(0);
  std::copy_n(bytes.begin(), std::min(bytes.size(), entry->bytes.size()), entry->bytes.begin());
  commit();
}

void EmulatedSmc::addKey(std::string_view name, std::string_view type,
                         std::span<const std::uint8_t> bytes, bool writable) {
  const std::lock_guard lock(mutex_);
  const auto guard = catchUp();
  KeyEntry entry = makeEntry(packFourCharCode(type), writable ? kReadWrite : kReadOnly);
  if (entry.size == 0)
    entry.size = static_cast<std::uint32_t>(std::min<std::size_t>(bytes.size(), 32));
  std::copy_n(bytes.begin(), std::min(bytes.size(), entry.bytes.size()), entry.bytes.begin());
  state_.keys[packFourCharCode(name)] = entry;
  commit();
}

void EmulatedSmc::removeKey(std::string_view name) {
  const std::lock_guard lock(mutex_);
  const auto guard = catchUp();
  state_.keys.erase(packFourCharCode(name));
  commit();
}

void EmulatedSmc::injectFault(std::string_view key, Command command, KernReturn status, int times) {
  const std::lock_guard lock(mutex_);
  const auto guard = catchUp();
  if (times == 0) return;
  state_.faults.push_back({packFourCharCode(key), static_cast<std::uint8_t>(command), status,
                           times < 0 ? kAlways : times});
  commit();
}

void EmulatedSmc::clearFaults() {
  const std::lock_guard lock(mutex_);
  const auto guard = catchUp();
  state_.faults.clear();
  commit();
}

EmulatedUserClient::EmulatedUserClient(std::shared_ptr<EmulatedSmc> smc) : smc_(std::move(smc)) {}

std::uint32_t EmulatedUserClient::open() {
  open_ = true;
  return kConnectionHandle;
}

KernReturn EmulatedUserClient::callStructMethod(std::uint32_t connection, std::uint32_t selector,
                                                std::span<const std::byte> input,
                                                std::span<std::byte> output) {
  if (!open_ || connection != kConnectionHandle) return kIOReturnNotOpen;
  return exchangeParamBlock(
      selector, input, output,
      [this](const SMCParamBlock& in, SMCParamBlock& out) { return smc_->execute(in, out); });
}

void EmulatedUserClient::close(std::uint32_t connection) {
  if (connection == kConnectionHandle) open_ = false;
}

std::string EmulatedUserClient::description() const {
  const auto& profile = smc_->profile();
  std::string text = "emulated SMC: " + profile.model + " (profile " + profile.name;
  if (const auto& state = smc_->stateFilePath()) text += ", state " + state->string();
  return text + ")";
}

}  // namespace zephro::smc

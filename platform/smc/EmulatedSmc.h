#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/smc/Clock.h"
#include "platform/smc/MachineProfile.h"
#include "platform/smc/SMCParamBlock.h"
#include "platform/smc/StateFile.h"
#include "platform/smc/UserClient.h"

namespace zephro::smc {

enum class Command : std::uint8_t {
  readKeyInfo = kCommandReadKeyInfo,
  readValue = kCommandReadValue,
  writeValue = kCommandWriteValue,
};

// One command the firmware received, with the status it answered.
struct CallRecord {
  std::uint8_t command = 0;
  std::uint32_t key = 0;
  KernReturn status = 0;
  friend bool operator==(const CallRecord&, const CallRecord&) = default;
};

struct KeyEntry {
  std::uint32_t type = 0;
  std::uint32_t size = 0;
  std::uint8_t attributes = 0;
  std::array<std::uint8_t, 32> bytes{};
  [[nodiscard]] bool writable() const;
  // The value bytes the key really holds (its size, at most 32).
  [[nodiscard]] std::span<const std::uint8_t> value() const { return {bytes.data(), size}; }
};

inline constexpr std::uint8_t kAttributeReadable = 0x80;
inline constexpr std::uint8_t kAttributeWritable = 0x40;

// Fault injection: times = kAlways, or how many matching commands fail before the
// fault goes away.
inline constexpr int kAlways = -1;

// The size a key of this data type holds, or 0 for types the emulator does not know.
[[nodiscard]] std::uint32_t sizeOfType(std::uint32_t type);

// An emulated System Management Controller. It answers parameter blocks the way
// firmware does (key information, read, write; unknown keys and read-only keys
// refused with IOKit statuses) and runs a small physical model: fans ramp toward
// their target while forced (force bit set and mode 1, or only the bit on machines
// without mode keys) and follow an automatic temperature curve otherwise; the die
// temperature falls as airflow rises. Time comes from an injectable clock.
//
// With a state file, the controller's state survives the process and is shared:
// every command that changes state replaces the file atomically, and every command
// first re-reads the file if another process changed it. Thread-safe.
class EmulatedSmc {
 public:
  explicit EmulatedSmc(MachineProfile profile,
                       std::optional<std::filesystem::path> stateFile = std::nullopt,
                       std::shared_ptr<const Clock> clock = nullptr);
  ~EmulatedSmc();
  EmulatedSmc(const EmulatedSmc&) = delete;
  EmulatedSmc& operator=(const EmulatedSmc&) = delete;

  // The firmware's side of one struct-method call.
  [[nodiscard]] KernReturn execute(const SMCParamBlock& input, SMCParamBlock& output);

  [[nodiscard]] const MachineProfile& profile() const { return profile_; }
  [[nodiscard]] const std::optional<std::filesystem::path>& stateFilePath() const;

  // Inspection: each call first catches up with the clock and the state file.
  [[nodiscard]] std::vector<std::string> keyNames();
  [[nodiscard]] std::optional<KeyEntry> key(std::string_view name);
  [[nodiscard]] std::size_t fanCount() const { return profile_.fans.size(); }
  [[nodiscard]] double fanTarget(std::size_t fan);
  [[nodiscard]] double fanActual(std::size_t fan);
  [[nodiscard]] bool isFanForced(std::size_t fan);
  [[nodiscard]] std::uint16_t forceMask();
  [[nodiscard]] std::optional<std::uint8_t> modeValue(std::size_t fan);
  [[nodiscard]] std::optional<std::uint8_t> ftst();
  [[nodiscard]] double dieTemperature();
  [[nodiscard]] std::vector<CallRecord> callLog() const;
  [[nodiscard]] std::uint64_t callCount() const;
  void clearCallLog();
  // The log keeps the most recent records only (10000 by default; 0 keeps none).
  void setCallLogCapacity(std::size_t capacity);

  // Test hooks; each one counts as a state change.
  void setKeyBytes(std::string_view name, std::span<const std::uint8_t> bytes);
  void addKey(std::string_view name, std::string_view type, std::span<const std::uint8_t> bytes,
              bool writable);
  void removeKey(std::string_view name);
  void injectFault(std::string_view key, Command command, KernReturn status, int times = kAlways);
  void clearFaults();

 private:
  struct Fault {
    std::uint32_t key = 0;
    std::uint8_t command = 0;
    KernReturn status = 0;
    int remaining = kAlways;
  };
  struct State {
    std::uint64_t generation = 0;
    std::int64_t timeNs = 0;
    double dieC = 0;
    std::vector<double> actualRPM;
    std::map<std::uint32_t, KeyEntry> keys;
    std::vector<Fault> faults;
  };

  [[nodiscard]] State initialState() const;
  [[nodiscard]] std::optional<StateFile::Guard> catchUp();
  void settleAtIdle();
  void advanceTo(std::int64_t nowNs);
  void integrate(double seconds);
  void publishReadings();
  void commit();
  [[nodiscard]] KernReturn dispatch(const SMCParamBlock& input, SMCParamBlock& output,
                                    bool& changed);
  void reactToWrite(std::uint32_t key);

  [[nodiscard]] const KeyEntry* find(std::uint32_t key) const;
  [[nodiscard]] KeyEntry* find(std::uint32_t key);
  [[nodiscard]] std::optional<std::uint32_t> modeKeyOf(std::size_t fan) const;
  [[nodiscard]] std::uint16_t currentForceMask() const;
  [[nodiscard]] std::optional<std::uint8_t> currentMode(std::size_t fan) const;
  [[nodiscard]] bool forced(std::size_t fan) const;
  [[nodiscard]] double targetOf(std::size_t fan) const;
  [[nodiscard]] double automaticTarget(std::size_t fan) const;
  [[nodiscard]] double decodeSpeed(const KeyEntry& entry) const;

  [[nodiscard]] std::string serialize() const;
  [[nodiscard]] bool deserialize(const std::string& content);

  const MachineProfile profile_;
  const std::shared_ptr<const Clock> clock_;
  const std::optional<std::filesystem::path> stateFilePath_;
  std::unique_ptr<StateFile> stateFile_;

  mutable std::mutex mutex_;
  State state_;
  std::deque<CallRecord> callLog_;
  std::size_t callLogCapacity_ = 10000;
  std::uint64_t callCount_ = 0;
};

// A user client whose firmware is an EmulatedSmc.
class EmulatedUserClient final : public UserClient {
 public:
  // The handle an open answers; any non-zero value would do.
  static constexpr std::uint32_t kConnectionHandle = 0x2A03;

  explicit EmulatedUserClient(std::shared_ptr<EmulatedSmc> smc);

  [[nodiscard]] std::uint32_t open() override;
  [[nodiscard]] KernReturn callStructMethod(std::uint32_t connection, std::uint32_t selector,
                                            std::span<const std::byte> input,
                                            std::span<std::byte> output) override;
  void close(std::uint32_t connection) override;
  [[nodiscard]] std::string description() const override;

  [[nodiscard]] const std::shared_ptr<EmulatedSmc>& smc() const { return smc_; }

 private:
  std::shared_ptr<EmulatedSmc> smc_;
  bool open_ = false;
};

}  // namespace zephro::smc

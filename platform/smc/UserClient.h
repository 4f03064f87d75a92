#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "platform/smc/SMCParamBlock.h"

namespace zephro::smc {

// A kernel status as IOKit returns it: 0 is success, failures are the negative
// 32-bit patterns of the IOKit error codes.
using KernReturn = std::int32_t;

inline constexpr KernReturn kIOReturnSuccess = 0;
inline constexpr KernReturn kIOReturnError = static_cast<KernReturn>(0xE00002BC);
inline constexpr KernReturn kIOReturnNotPrivileged = static_cast<KernReturn>(0xE00002C1);
inline constexpr KernReturn kIOReturnBadArgument = static_cast<KernReturn>(0xE00002C2);
inline constexpr KernReturn kIOReturnUnsupported = static_cast<KernReturn>(0xE00002C7);
inline constexpr KernReturn kIOReturnNotOpen = static_cast<KernReturn>(0xE00002CD);
inline constexpr KernReturn kIOReturnNotFound = static_cast<KernReturn>(0xE00002F0);

// A failure the Linux kernel reported while a backend drove its driver: the errno (always
// below 4096 on Linux) in the code bits of an IOKit status of a subsystem of our own, so it
// is never mistaken for one of the codes above and still reads back as the errno.
inline constexpr KernReturn kErrnoStatusBase = static_cast<KernReturn>(0xE00E8000);
inline constexpr int kErrnoStatusMask = 0x3FFF;

[[nodiscard]] constexpr KernReturn errnoStatus(int errnoValue) {
  return kErrnoStatusBase | (errnoValue & kErrnoStatusMask);
}

// The errno a status carries, or 0 when it carries none.
[[nodiscard]] constexpr int errnoOfStatus(KernReturn status) {
  return (status & ~kErrnoStatusMask) == kErrnoStatusBase ? status & kErrnoStatusMask : 0;
}

// The SMC's kernel user client: opened once for the own task, then one struct
// method that exchanges an 80-byte parameter block. Backends: the emulated
// controller and the kernel's Apple SMC drivers through sysfs.
class UserClient {
 public:
  virtual ~UserClient() = default;

  // Opens a connection for the calling task. Answers the connection handle, or 0
  // when the client cannot be opened (description() then says why).
  [[nodiscard]] virtual std::uint32_t open() = 0;

  // One struct-method call on an open connection: the input block goes in, the
  // output block (its size is the capacity) comes back filled.
  [[nodiscard]] virtual KernReturn callStructMethod(std::uint32_t connection,
                                                    std::uint32_t selector,
                                                    std::span<const std::byte> input,
                                                    std::span<std::byte> output) = 0;

  virtual void close(std::uint32_t connection) = 0;

  // One line naming the backend, or the reason it cannot be opened; for the log.
  [[nodiscard]] virtual std::string description() const = 0;
};

// One struct-method call as every parameter-block backend answers it: the selector and
// the block sizes are checked, then execute(input, output) runs on copies of the blocks.
template <typename Execute>
[[nodiscard]] KernReturn exchangeParamBlock(std::uint32_t selector,
                                            std::span<const std::byte> input,
                                            std::span<std::byte> output, Execute&& execute) {
  if (selector != kSelectorHandleParamBlock) return kIOReturnBadArgument;
  if (input.size() != kParamBlockSize || output.size() < kParamBlockSize) {
    return kIOReturnBadArgument;
  }
  SMCParamBlock in{};
  std::memcpy(&in, input.data(), kParamBlockSize);
  SMCParamBlock out{};
  const KernReturn status = execute(in, out);
  std::memcpy(output.data(), &out, kParamBlockSize);
  return status;
}

// The client for the helper's --smc option, made once at start-up so that any device
// search and the directory it finds are settled before a caller is served:
//   emulated:PROFILE[,state=FILE]  an emulated controller running the machine profile
//                                  PROFILE (a JSON file, or a name looked up in the
//                                  machine directories)
//   applesmc, macsmc               the kernel driver's device, searched for under /sys
//   applesmc:DIR, macsmc:DIR       the driver's attributes in DIR
//   auto[:SYSFS]                   the first driver present, applesmc then macsmc-hwmon,
//                                  searched for under SYSFS (default /sys)
// Anything else, including an empty text, an unknown backend, a profile that cannot be
// loaded, a directory that cannot be opened or no driver found, gives a client whose open
// fails and whose description() says why.
[[nodiscard]] std::unique_ptr<UserClient> makeUserClient(std::string_view spec);

// A client that never opens; description() is the reason.
class UnavailableUserClient final : public UserClient {
 public:
  explicit UnavailableUserClient(std::string reason) : reason_(std::move(reason)) {}
  [[nodiscard]] std::uint32_t open() override { return 0; }
  [[nodiscard]] KernReturn callStructMethod(std::uint32_t, std::uint32_t,
                                            std::span<const std::byte>,
                                            std::span<std::byte>) override {
    return kIOReturnNotOpen;
  }
  void close(std::uint32_t) override {}
  [[nodiscard]] std::string description() const override { return reason_; }

 private:
  std::string reason_;
};

}  // namespace zephro::smc

#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/smc/SysfsDevice.h"
#include "platform/smc/SysfsSmc.h"
#include "platform/smc/UserClient.h"

namespace zephro::smc {

// A user client whose firmware is a kernel driver's device directory. The directory is
// opened and indexed when the client is made, so what it drives is settled at start-up;
// open fails when the directory could not be opened.
class SysfsUserClient final : public UserClient {
 public:
  // The handle an open answers; any non-zero value would do.
  static constexpr std::uint32_t kConnectionHandle = 0x5F5C;

  explicit SysfsUserClient(SysfsDevice device);

  [[nodiscard]] std::uint32_t open() override;
  [[nodiscard]] KernReturn callStructMethod(std::uint32_t connection, std::uint32_t selector,
                                            std::span<const std::byte> input,
                                            std::span<std::byte> output) override;
  void close(std::uint32_t connection) override;
  // "applesmc at DIR: 2 fans, forced through fanN_manual", or why the directory cannot be
  // opened.
  [[nodiscard]] std::string description() const override;

  [[nodiscard]] const SysfsSmc& smc() const { return smc_; }

 private:
  SysfsSmc smc_;
  bool open_ = false;
};

}  // namespace zephro::smc

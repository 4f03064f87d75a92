#include "platform/smc/SysfsUserClient.h"

#include <cstring>
#include <system_error>

namespace zephro::smc {

SysfsUserClient::SysfsUserClient(SysfsDevice device) : smc_(std::move(device)) {}

std::uint32_t SysfsUserClient::open() {
  if (!smc_.directory().isOpen()) return 0;
  open_ = true;
  return kConnectionHandle;
}

KernReturn SysfsUserClient::callStructMethod(std::uint32_t connection, std::uint32_t selector,
                                             std::span<const std::byte> input,
                                             std::span<std::byte> output) {
  if (!open_ || connection != kConnectionHandle) return kIOReturnNotOpen;
  return exchangeParamBlock(
      selector, input, output,
      [this](const SMCParamBlock& in, SMCParamBlock& out) { return smc_.execute(in, out); });
}

void SysfsUserClient::close(std::uint32_t connection) {
  if (connection == kConnectionHandle) open_ = false;
}

std::string SysfsUserClient::description() const {
  const auto& directory = smc_.directory();
  std::string text(driverNameOf(smc_.device().driver));
  text += " at " + directory.path().string();
  if (!directory.isOpen()) {
    return text + ": cannot open it (" + std::generic_category().message(directory.openError()) +
           ")";
  }
  return text + ": " + smc_.capabilities();
}

}  // namespace zephro::smc

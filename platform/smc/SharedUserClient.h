#pragma once

#include <memory>
#include <utility>

#include "platform/smc/UserClient.h"

namespace zephro::smc {

// A handle on a client that outlives it: the helper makes its client once at start-up and
// hands one of these to each attempt to open the SMC.
class SharedUserClient final : public UserClient {
 public:
  explicit SharedUserClient(std::shared_ptr<UserClient> client) : client_(std::move(client)) {}

  [[nodiscard]] std::uint32_t open() override { return client_->open(); }
  [[nodiscard]] KernReturn callStructMethod(std::uint32_t connection, std::uint32_t selector,
                                            std::span<const std::byte> input,
                                            std::span<std::byte> output) override {
    return client_->callStructMethod(connection, selector, input, output);
  }
  void close(std::uint32_t connection) override { client_->close(connection); }
  [[nodiscard]] std::string description() const override { return client_->description(); }

 private:
  std::shared_ptr<UserClient> client_;
};

}  // namespace zephro::smc

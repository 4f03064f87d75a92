#pragma once

#include <memory>
#include <optional>

#include "platform/error/Error.h"
#include "platform/update/UserDriver.h"

namespace zephro::testing {

// An updater that is always able to check and, asked to, finds nothing newer.
class QuietUpdater final : public update::Updater {
 public:
  explicit QuietUpdater(std::shared_ptr<update::UserDriver> driver) : driver_(std::move(driver)) {}

  std::optional<Error> start() override { return std::nullopt; }
  void checkForUpdates() override {
    driver_->showUpdateNotFound(Error::withDescription("SUSparkleErrorDomain", 1001, "Up to date"),
                                [] {});
  }
  [[nodiscard]] bool canCheckForUpdates() const override { return true; }

 private:
  std::shared_ptr<update::UserDriver> driver_;
};

}  // namespace zephro::testing

#pragma once

#include <filesystem>
#include <string>

namespace zephro {

// What the machine says about itself.
class SystemInfo {
 public:
  // The hardware model, as the firmware names it (a Mac running Linux reports e.g.
  // "MacBookAir8,1"); "unknown" when it cannot be read.
  [[nodiscard]] static std::string model(
      const std::filesystem::path& productName = "/sys/class/dmi/id/product_name");

  // Whether the model is a MacBook Air, which has no fans to show.
  [[nodiscard]] static bool isMacBookAir(const std::string& model);
};

}  // namespace zephro

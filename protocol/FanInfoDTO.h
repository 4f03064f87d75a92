#pragma once

#include <cstdint>

#include "protocol/FanMode.h"

namespace zephro {

// One fan as the helper reports it. Immutable: the only constructor takes every field.
class FanInfoDTO {
public:
  FanInfoDTO(std::int64_t index, double currentRPM, double minRPM, double maxRPM, FanMode mode)
      : index_(index), currentRPM_(currentRPM), minRPM_(minRPM), maxRPM_(maxRPM), mode_(mode) {}

  [[nodiscard]] std::int64_t index() const { return index_; }
  [[nodiscard]] double currentRPM() const { return currentRPM_; }
  [[nodiscard]] double minRPM() const { return minRPM_; }
  [[nodiscard]] double maxRPM() const { return maxRPM_; }
  [[nodiscard]] FanMode mode() const { return mode_; }

  friend bool operator==(const FanInfoDTO&, const FanInfoDTO&) = default;

private:
  std::int64_t index_;
  double currentRPM_;
  double minRPM_;
  double maxRPM_;
  FanMode mode_;
};

}  // namespace zephro

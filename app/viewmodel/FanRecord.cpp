#include "app/viewmodel/FanRecord.h"

#include "app/viewmodel/FanPercentage.h"

namespace zephro {

int FanRecord::percentage() const {
  return fanPercentage(fan_);
}

}  // namespace zephro

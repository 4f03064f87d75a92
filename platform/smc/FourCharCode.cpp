#include "platform/smc/FourCharCode.h"

namespace zephro::smc {

std::string unpackFourCharCode(std::uint32_t code) {
  std::string text(4, '\0');
  for (std::size_t i = 0; i < 4; ++i) {
    text[i] = static_cast<char>((code >> (8 * (3 - i))) & 0xFF);
  }
  return text;
}

}  // namespace zephro::smc

#pragma once

#include <string_view>

namespace zephro {

// The helper's information property list (XML), embedded in the executable's
// ".zephro_info_plist" section so that tools can read it without running it.
[[nodiscard]] std::string_view embeddedInfoPlist();

}  // namespace zephro

#pragma once

namespace zephro {

// Where the running application answers on the session bus.
inline constexpr const char* kApplicationBusName = "com.zephro.app";
inline constexpr const char* kApplicationObjectPath = "/com/zephro/app";
inline constexpr const char* kIntentsInterface = "com.zephro.Intents1";

}  // namespace zephro

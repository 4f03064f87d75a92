#pragma once

#include <chrono>
#include <functional>

#include "platform/servicemanager/ServiceManager.h"

namespace zephro {

// A registration shows in the status only after a moment; it is read again this often.
struct SettlingWait {
  std::chrono::milliseconds interval{100};
  int rounds = 15;
};

// Registers the helper daemon ("com.zephro.helper.plist"), or re-registers an enabled one
// when forceRefresh is set, so that the current binary runs; dropConnection is called after
// a re-registration so the next call reaches the new process. Blocks; throws
// HelperInstallError.
void registerHelperService(ServiceManager& manager, bool forceRefresh, const SettlingWait& wait,
                           const std::function<void()>& dropConnection);

}  // namespace zephro

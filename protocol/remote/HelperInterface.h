#pragma once

#include <memory>

#include "platform/xpc/Listener.h"
#include "protocol/HelperProtocol.h"
#include "protocol/KeyedArchive.h"

namespace zephro {

// The classes each object position of the protocol admits. Both sides decode with
// these and refuse everything else.
namespace allowed {
// getFanInfoWithReply:, reply argument 0.
inline constexpr archive::AllowedClasses kFanInfoReply = {archive::kArrayClass,
                                                          archive::kFanInfoClass};
// setFanMode:percentages:reply:, call argument 1.
inline constexpr archive::AllowedClasses kPercentages = {archive::kArrayClass,
                                                         archive::kNumberClass};
}  // namespace allowed

// The server side of the protocol: decodes invocations, calls `implementation`
// and encodes its replies. `implementation` must outlive every connection that
// exports it.
[[nodiscard]] std::shared_ptr<xpc::ExportedObject> exportedHelper(HelperProtocol& implementation);
// The same for an implementation that lives as long as the connections exporting it.
[[nodiscard]] std::shared_ptr<xpc::ExportedObject> exportedHelper(
    std::shared_ptr<HelperProtocol> implementation);

}  // namespace zephro

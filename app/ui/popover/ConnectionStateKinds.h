#pragma once

#include <QtQml/qqmlregistration.h>
#include <QObject>

#include "app/viewmodel/ConnectionState.h"

namespace zephro::popover {

// The kinds of the view model's connection state, for QML: ConnectionState.connected, ...
// (the value type itself is named in lower case, which gives QML no way to its enum).
namespace ConnectionStateKinds {
Q_NAMESPACE
QML_FOREIGN_NAMESPACE(zephro::ConnectionState)
QML_NAMED_ELEMENT(ConnectionState)
}  // namespace ConnectionStateKinds

}  // namespace zephro::popover

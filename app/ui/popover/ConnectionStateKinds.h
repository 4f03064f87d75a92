#pragma once

#include <QtQml/qqmlregistration.h>
#include <QObject>

#include "app/viewmodel/ConnectionState.h"

namespace zephro::popover {

// The kinds of the view model's connection state and of its refusals, for QML:
// ConnectionState.Connected, ConnectionState.NotAuthorized, ...
// QML reaches no enum of a value type, and takes a lower-case name after a type's name
// for a property, so the kinds are mirrored here under capitalised names.
class ConnectionStateKinds : public QObject {
  Q_OBJECT
  QML_NAMED_ELEMENT(ConnectionState)
  QML_UNCREATABLE("ConnectionState only names the kinds of the view model's connection state.")

 public:
  using Source = zephro::ConnectionState::Kind;
  enum Kind {
    Error = static_cast<int>(Source::error),
    Connecting = static_cast<int>(Source::connecting),
    Connected = static_cast<int>(Source::connected),
    NeedsApproval = static_cast<int>(Source::needsApproval),
  };
  Q_ENUM(Kind)

  using SourceRefusal = zephro::ConnectionState::Refusal;
  enum Refusal {
    None = static_cast<int>(SourceRefusal::none),
    NotAuthorized = static_cast<int>(SourceRefusal::notAuthorized),
    ReadOnlyFans = static_cast<int>(SourceRefusal::readOnlyFans),
  };
  Q_ENUM(Refusal)
};

}  // namespace zephro::popover

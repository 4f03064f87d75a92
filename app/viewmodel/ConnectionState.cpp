#include "app/viewmodel/ConnectionState.h"

namespace zephro {

ConnectionState ConnectionState::error(QString message) {
  return ConnectionState(Kind::error, std::move(message));
}

ConnectionState ConnectionState::refused(Refusal refusal, QString message) {
  ConnectionState state(Kind::error, std::move(message));
  state.refusal_ = refusal;
  return state;
}

QString ConnectionState::description() const {
  switch (kind_) {
    case Kind::error:
      return QStringLiteral("error: ") + message_;
    case Kind::connecting:
      return QStringLiteral("connecting");
    case Kind::connected:
      return QStringLiteral("connected");
    case Kind::needsApproval:
      return QStringLiteral("needsApproval");
  }
  return {};
}

}  // namespace zephro

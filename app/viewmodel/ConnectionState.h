#pragma once

#include <QtQml/qqmlregistration.h>
#include <QMetaType>
#include <QString>

namespace zephro {

// How the view model sees the helper. Equal when the kind and the message are equal.
class ConnectionState {
  Q_GADGET
  QML_VALUE_TYPE(connectionState)
  /// error, connecting, connected or needsApproval.
  Q_PROPERTY(Kind kind READ kind CONSTANT)
  /// The text shown to the user in the error state; empty otherwise.
  Q_PROPERTY(QString message READ message CONSTANT)
  /// An error state because the helper refused a change: this user may not change the fans.
  Q_PROPERTY(bool notAuthorized READ notAuthorized CONSTANT)

 public:
  enum class Kind {
    error,          // the helper could not be reached or refused a change
    connecting,     // start-up, or an installation in progress
    connected,      // the last poll succeeded
    needsApproval,  // registered, but the user has not allowed it yet
  };
  Q_ENUM(Kind)

  // connecting, the state before the first poll.
  ConnectionState() = default;

  [[nodiscard]] static ConnectionState error(QString message);
  // The error state of a change the helper refused to this user.
  [[nodiscard]] static ConnectionState notAuthorizedError(QString message);
  [[nodiscard]] static ConnectionState connecting() { return ConnectionState(Kind::connecting); }
  [[nodiscard]] static ConnectionState connected() { return ConnectionState(Kind::connected); }
  [[nodiscard]] static ConnectionState needsApproval() {
    return ConnectionState(Kind::needsApproval);
  }

  [[nodiscard]] Kind kind() const { return kind_; }
  [[nodiscard]] const QString& message() const { return message_; }
  [[nodiscard]] bool notAuthorized() const { return notAuthorized_; }

  // "connected", "error: <message>", ... as the headless monitor prints it.
  [[nodiscard]] QString description() const;

  friend bool operator==(const ConnectionState&, const ConnectionState&) = default;

 private:
  explicit ConnectionState(Kind kind, QString message = {})
      : kind_(kind), message_(std::move(message)) {}

  Kind kind_ = Kind::connecting;
  QString message_;
  bool notAuthorized_ = false;
};

}  // namespace zephro

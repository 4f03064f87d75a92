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
  /// Why the helper refused a change, in the error state of one; none otherwise.
  Q_PROPERTY(Refusal refusal READ refusal CONSTANT)

 public:
  enum class Kind {
    error,          // the helper could not be reached or refused a change
    connecting,     // start-up, or an installation in progress
    connected,      // the last poll succeeded
    needsApproval,  // registered, but the user has not allowed it yet
  };
  Q_ENUM(Kind)

  // Refusals the popover explains in words of its own, since trying again would not help.
  enum class Refusal {
    none,
    notAuthorized,  // this user may not change the fans
    readOnlyFans,   // the machine's fan driver only reads the fans
  };
  Q_ENUM(Refusal)

  // connecting, the state before the first poll.
  ConnectionState() = default;

  [[nodiscard]] static ConnectionState error(QString message);
  // The error state of a change the helper refused for a reason the popover explains.
  [[nodiscard]] static ConnectionState refused(Refusal refusal, QString message);
  [[nodiscard]] static ConnectionState connecting() { return ConnectionState(Kind::connecting); }
  [[nodiscard]] static ConnectionState connected() { return ConnectionState(Kind::connected); }
  [[nodiscard]] static ConnectionState needsApproval() {
    return ConnectionState(Kind::needsApproval);
  }

  [[nodiscard]] Kind kind() const { return kind_; }
  [[nodiscard]] const QString& message() const { return message_; }
  [[nodiscard]] Refusal refusal() const { return refusal_; }

  // "connected", "error: <message>", ... as the headless monitor prints it.
  [[nodiscard]] QString description() const;

  friend bool operator==(const ConnectionState&, const ConnectionState&) = default;

 private:
  explicit ConnectionState(Kind kind, QString message = {})
      : kind_(kind), message_(std::move(message)) {}

  Kind kind_ = Kind::connecting;
  QString message_;
  Refusal refusal_ = Refusal::none;
};

}  // namespace zephro

#pragma once

#include <QCoro/QCoroTask>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QString>
#include <QVariantList>
#include <exception>
#include <stdexcept>

namespace zephro {

class LocalizationManager;

// A failure a D-Bus caller receives as the error `name` with `message`.
class BusError : public std::runtime_error {
 public:
  BusError(QString name, QString message);

  // org.freedesktop.DBus.Error.InvalidArgs.
  [[nodiscard]] static BusError invalidArguments(QString message);

  [[nodiscard]] const QString& name() const { return name_; }
  [[nodiscard]] const QString& message() const { return message_; }

  // What a caller is told about any exception: an action's error under its own name and
  // its localized description, a BusError as it is, anything else as
  // org.freedesktop.DBus.Error.Failed.
  [[nodiscard]] static BusError from(const std::exception_ptr& error,
                                     const LocalizationManager& localization);

 private:
  QString name_;
  QString message_;
};

// Answers `call` once `answer` is done: with the values it returns, or with the error it
// throws. The call must have been marked for a delayed reply.
void replyWhenDone(QCoro::Task<QVariantList> answer, const QDBusMessage& call, QDBusConnection bus,
                   const LocalizationManager& localization);

}  // namespace zephro

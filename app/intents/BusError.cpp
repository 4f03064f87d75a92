#include "app/intents/BusError.h"

#include "app/core/Detach.h"
#include "app/intents/ZephroIntentError.h"

namespace zephro {
namespace {

// A plain function, so that its parameters live as long as it runs.
QCoro::Task<> sendReply(QCoro::Task<QVariantList> answer, QDBusMessage call, QDBusConnection bus,
                        const LocalizationManager& localization) {
  QDBusMessage reply;
  try {
    const QVariantList values = co_await answer;
    reply = call.createReply(values);
  } catch (...) {
    const auto error = BusError::from(std::current_exception(), localization);
    reply = call.createErrorReply(error.name(), error.message());
  }
  bus.send(reply);
}

}  // namespace

BusError::BusError(QString name, QString message)
    : std::runtime_error(message.toStdString()),
      name_(std::move(name)),
      message_(std::move(message)) {}

BusError BusError::invalidArguments(QString message) {
  return {QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"), std::move(message)};
}

BusError BusError::from(const std::exception_ptr& error, const LocalizationManager& localization) {
  try {
    std::rethrow_exception(error);
  } catch (const BusError& busError) {
    return busError;
  } catch (const ZephroIntentError& intentError) {
    return {intentError.busErrorName(), intentError.localizedDescription(localization)};
  } catch (...) {
    return {QStringLiteral("org.freedesktop.DBus.Error.Failed"),
            QString::fromStdString(describeException(error))};
  }
}

void replyWhenDone(QCoro::Task<QVariantList> answer, const QDBusMessage& call, QDBusConnection bus,
                   const LocalizationManager& localization) {
  detach(sendReply(std::move(answer), call, std::move(bus), localization),
         "Answering a D-Bus call");
}

}  // namespace zephro

#pragma once

#include <QtQml/qqmlregistration.h>
#include <QCoro/QCoroTask>
#include <QObject>
#include <QString>
#include <functional>
#include <optional>

#include "app/services/telemetry/TelemetryRecords.h"

namespace zephro {

// The feedback window's way to the telemetry service.
class FeedbackSender : public QObject {
  Q_OBJECT
  QML_ELEMENT

 public:
  using Send = std::function<QCoro::Task<bool>(telemetry::FeedbackCategory, QString,
                                               std::optional<QString>)>;

  // Sends through the shared telemetry settings.
  explicit FeedbackSender(QObject* parent = nullptr);
  FeedbackSender(Send send, QObject* parent);

  // Sends the feedback as given (the window trims it first) and answers with finished().
  // An unknown category sends nothing and fails.
  Q_INVOKABLE void send(const QString& category, const QString& message,
                        const QString& contactEmail);

 signals:
  void finished(bool success);

 private:
  Send send_;
};

}  // namespace zephro

#include "app/services/feedback/FeedbackSender.h"

#include <QPointer>

#include "app/core/Detach.h"
#include "app/services/telemetry/TelemetryReporter.h"

namespace zephro {
namespace {

// The answer reaches the sender only while it lives: a window closed mid-send lets the
// send finish unseen.
QCoro::Task<> sendAndAnswer(QPointer<FeedbackSender> sender, QCoro::Task<bool> sending) {
  const bool success = co_await sending;
  if (sender) emit sender->finished(success);
}

}  // namespace

FeedbackSender::FeedbackSender(QObject* parent)
    : FeedbackSender(
          [](telemetry::FeedbackCategory category, QString message,
             std::optional<QString> contactEmail) {
            return telemetry::sendFeedback(category, std::move(message), std::move(contactEmail));
          },
          parent) {}

FeedbackSender::FeedbackSender(Send send, QObject* parent)
    : QObject(parent), send_(std::move(send)) {}

void FeedbackSender::send(const QString& category, const QString& message,
                          const QString& contactEmail) {
  const auto parsed = telemetry::feedbackCategoryFromRaw(category.toStdString());
  if (!parsed) {
    emit finished(false);
    return;
  }
  auto sending =
      send_(*parsed, message,
            contactEmail.isEmpty() ? std::nullopt : std::optional<QString>(contactEmail));
  detach(sendAndAnswer(QPointer<FeedbackSender>(this), std::move(sending)), "Feedback");
}

}  // namespace zephro

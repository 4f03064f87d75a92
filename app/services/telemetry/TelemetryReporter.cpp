#include "app/services/telemetry/TelemetryReporter.h"

#include <QCoroFuture>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>

#include "app/text/UserCharacters.h"
#include "platform/log/Log.h"

namespace zephro::telemetry {
namespace {

std::string cut(const std::string& text, qsizetype count) {
  return firstCharacters(QString::fromStdString(text), count).toStdString();
}

}  // namespace

const log::Channel& telemetryChannel() {
  static const log::Channel channel{"com.zephro.app", "telemetry"};
  return channel;
}

bool postBlocking(const QString& path, const QByteArray& body, const TelemetrySettings& settings) {
  QNetworkAccessManager network;
  QNetworkRequest request(settings.endpoint(path));
  request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
  request.setTransferTimeout(static_cast<int>(settings.idleTimeout.count()));
  // A redirect is an answer like any other that is not 2xx: a failure.
  request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                       QNetworkRequest::ManualRedirectPolicy);
  std::unique_ptr<QNetworkReply> reply(network.post(request, body));

  QEventLoop loop;
  QTimer deadline;
  deadline.setSingleShot(true);
  QObject::connect(&deadline, &QTimer::timeout, reply.get(), &QNetworkReply::abort);
  QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
  deadline.start(settings.resourceTimeout);
  if (!reply->isFinished()) loop.exec();

  const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
  if (status.isValid()) {
    const int code = status.toInt();
    return code >= 200 && code <= 299;
  }
  log::write(
      telemetryChannel(), log::Level::error,
      "Telemetry POST " + path.toStdString() + " failed: " + reply->errorString().toStdString());
  return false;
}

// The futures are made in statements of their own: GCC 12 destroys temporaries of a
// co_await expression twice (see Detach.h).
QCoro::Task<bool> post(QString path, QByteArray body, TelemetrySettings settings) {
  QFuture<bool> posting = QtConcurrent::run(
      [path = std::move(path), body = std::move(body), settings = std::move(settings)] {
        return postBlocking(path, body, settings);
      });
  co_return co_await posting;
}

QCoro::Task<bool> post(QString path, QByteArray body) {
  return post(std::move(path), std::move(body), TelemetrySettings::shared());
}

Payload makeFeedback(FeedbackCategory category, const QString& message,
                     const std::optional<QString>& contactEmail,
                     const TelemetrySettings& settings) {
  Payload payload;
  payload.category = category;
  payload.message = firstCharacters(message, kMessageLimit).toStdString();
  if (contactEmail && !contactEmail->isEmpty()) {
    payload.contactEmail = firstCharacters(*contactEmail, kContactLimit).toStdString();
  }
  std::vector<std::string> lines =
      settings.recentLogLines ? settings.recentLogLines(kLogLineCount) : std::vector<std::string>{};
  lines.resize(std::min(lines.size(), kLogLineCount));
  for (std::string& line : lines) line = cut(line, kLogLineLimit);
  payload.logs = std::move(lines);
  payload.context = TelemetryContext::shared();
  payload.ts = secondsSinceEpoch();
  return payload;
}

QCoro::Task<bool> sendFeedback(FeedbackCategory category, QString message,
                               std::optional<QString> contactEmail, TelemetrySettings settings) {
  QFuture<bool> sending =
      QtConcurrent::run([category, message = std::move(message),
                         contactEmail = std::move(contactEmail), settings = std::move(settings)] {
        const Payload payload = makeFeedback(category, message, contactEmail, settings);
        return postBlocking(QStringLiteral("/telemetry/feedback"),
                            QByteArray::fromStdString(encode(payload.toJson())), settings);
      });
  co_return co_await sending;
}

QCoro::Task<bool> sendFeedback(FeedbackCategory category, QString message,
                               std::optional<QString> contactEmail) {
  return sendFeedback(category, std::move(message), std::move(contactEmail),
                      TelemetrySettings::shared());
}

std::string encode(const nlohmann::ordered_json& json) {
  return json.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace zephro::telemetry

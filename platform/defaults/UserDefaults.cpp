#include "platform/defaults/UserDefaults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>
#include <QStandardPaths>

#include "platform/log/Log.h"

namespace zephro {
namespace {

// Data values are kept as {"data": "<base64>"} so that the file says which
// type each value has; Booleans and texts are plain JSON values.
constexpr QLatin1StringView kDataTag{"data"};

QJsonValue encodeData(const QByteArray& bytes) {
  return QJsonObject{{kDataTag, QString::fromLatin1(bytes.toBase64())}};
}

// An entry of another shape stays in the file untouched but reads as no value.
QVariant decode(const QJsonValue& value) {
  if (value.isBool()) return value.toBool();
  if (value.isString()) return value.toString();
  if (value.isObject()) {
    const QJsonObject object = value.toObject();
    if (object.size() == 1 && object.value(kDataTag).isString()) {
      const auto decoded = QByteArray::fromBase64Encoding(
          object.value(kDataTag).toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
      if (decoded) return *decoded;
    }
  }
  return {};
}

void logLine(const QString& line) {
  log::write(line.toStdString());
}

}  // namespace

UserDefaults::UserDefaults(QString filePath, QObject* parent)
    : QObject(parent), filePath_(std::move(filePath)) {
  load();
}

UserDefaults& UserDefaults::standard() {
  static UserDefaults defaults(standardFilePath());
  return defaults;
}

QString UserDefaults::standardFilePath() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
         QStringLiteral("/zephro/com.zephro.app.json");
}

void UserDefaults::load() {
  QFile file(filePath_);
  if (!file.exists()) return;
  if (!file.open(QIODevice::ReadOnly)) {
    keepUnreadableFile(file.errorString());
    return;
  }
  const QByteArray contents = file.readAll();
  file.close();
  QJsonParseError error{};
  const QJsonDocument document = QJsonDocument::fromJson(contents, &error);
  if (error.error != QJsonParseError::NoError) {
    keepUnreadableFile(error.errorString());
    return;
  }
  if (!document.isObject()) {
    keepUnreadableFile(QStringLiteral("not a JSON object"));
    return;
  }
  stored_ = document.object();
}

// The next write would replace the file, so whatever it holds is moved aside first.
void UserDefaults::keepUnreadableFile(const QString& reason) {
  const QString keptPath = filePath_ + QStringLiteral(".unreadable");
  QFile::remove(keptPath);
  if (QFile::rename(filePath_, keptPath)) {
    logLine(QStringLiteral("[Zephro] Settings file %1 could not be read (%2); kept it as %3")
                .arg(filePath_, reason, keptPath));
  } else {
    logLine(
        QStringLiteral("[Zephro] Settings file %1 could not be read (%2)").arg(filePath_, reason));
  }
}

void UserDefaults::registerDefaults(const QVariantMap& fallbacks) {
  for (auto it = fallbacks.begin(); it != fallbacks.end(); ++it) {
    const QVariant before = object(it.key());
    registered_.insert(it.key(), it.value());
    if (object(it.key()) != before) emit valueChanged(it.key());
  }
}

QVariant UserDefaults::object(const QString& key) const {
  if (const auto it = stored_.constFind(key); it != stored_.constEnd()) {
    if (QVariant value = decode(*it); value.isValid()) return value;
  }
  return registered_.value(key);
}

bool UserDefaults::boolValue(const QString& key) const {
  const QVariant value = object(key);
  return value.typeId() == QMetaType::Bool && value.toBool();
}

std::optional<QString> UserDefaults::string(const QString& key) const {
  const QVariant value = object(key);
  if (value.typeId() != QMetaType::QString) return std::nullopt;
  return value.toString();
}

std::optional<QByteArray> UserDefaults::data(const QString& key) const {
  const QVariant value = object(key);
  if (value.typeId() != QMetaType::QByteArray) return std::nullopt;
  return value.toByteArray();
}

bool UserDefaults::hasStoredValue(const QString& key) const {
  return stored_.contains(key);
}

bool UserDefaults::value(const defaults::BoolKey& key) const {
  const QVariant value = object(QLatin1StringView(key.name));
  if (value.typeId() != QMetaType::Bool) return key.fallback;
  return value.toBool();
}

QString UserDefaults::value(const defaults::TextKey& key) const {
  return string(QLatin1StringView(key.name)).value_or(QString::fromUtf8(key.fallback));
}

std::optional<QByteArray> UserDefaults::value(const defaults::DataKey& key) const {
  return data(QLatin1StringView(key.name));
}

void UserDefaults::setBool(const QString& key, bool value) {
  store(key, value);
}

void UserDefaults::setString(const QString& key, const QString& value) {
  store(key, value);
}

void UserDefaults::setData(const QString& key, const QByteArray& value) {
  store(key, encodeData(value));
}

void UserDefaults::remove(const QString& key) {
  if (!stored_.contains(key)) return;
  const QVariant before = object(key);
  stored_.remove(key);
  persist();
  if (object(key) != before) emit valueChanged(key);
}

void UserDefaults::store(const QString& key, const QJsonValue& value) {
  const QVariant before = object(key);
  stored_.insert(key, value);
  persist();
  if (object(key) != before) emit valueChanged(key);
}

void UserDefaults::persist() {
  const auto fail = [this](const QString& reason) {
    persisted_ = false;
    logLine(QStringLiteral("[Zephro] Failed to save settings to %1: %2").arg(filePath_, reason));
  };
  const QString folder = QFileInfo(filePath_).absolutePath();
  if (!QDir().mkpath(folder)) {
    fail(QStringLiteral("cannot create the folder %1").arg(folder));
    return;
  }
  QSaveFile file(filePath_);
  if (!file.open(QIODevice::WriteOnly)) {
    fail(file.errorString());
    return;
  }
  const QByteArray contents = QJsonDocument(stored_).toJson(QJsonDocument::Indented);
  if (file.write(contents) != contents.size()) {
    fail(file.errorString());
    file.cancelWriting();
    return;
  }
  if (!file.commit()) {
    fail(file.errorString());
    return;
  }
  persisted_ = true;
}

}  // namespace zephro

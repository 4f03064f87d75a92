#include "platform/defaults/UserDefaults.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>
#include <QStandardPaths>

#include "platform/log/Format.h"
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

SettingsFileRead failedRead(int error) {
  return {SettingsFileRead::Outcome::failed, {}, QString::fromStdString(format::errorText(error))};
}

// Where the file went, or why it could not be moved.
struct MovedAside {
  std::optional<QString> keptAs;
  QString error;
};

// To the first free PATH.corrupt-N. The rename never replaces a file, so a file kept
// aside earlier stays as it was.
MovedAside moveAside(const QString& path) {
  const QByteArray from = QFile::encodeName(path);
  for (int number = 1;; ++number) {
    const QString candidate = QStringLiteral("%1.corrupt-%2").arg(path).arg(number);
    const QByteArray to = QFile::encodeName(candidate);
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0) {
      return {candidate, {}};
    }
    if (errno == EEXIST) continue;
    return {std::nullopt, QString::fromStdString(format::errorText(errno))};
  }
}

}  // namespace

SettingsFileRead readSettingsFile(const QString& path) {
  const QByteArray name = QFile::encodeName(path);
  const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    // No file, or a file where one of its folders should be: nothing there to keep.
    if (errno == ENOENT || errno == ENOTDIR) return {};
    return failedRead(errno);
  }
  SettingsFileRead result{SettingsFileRead::Outcome::read, {}, {}};
  std::array<char, 16384> buffer{};
  for (;;) {
    const ssize_t count = ::read(fd, buffer.data(), buffer.size());
    if (count > 0) {
      result.contents.append(buffer.data(), count);
    } else if (count == 0) {
      break;
    } else if (errno != EINTR) {
      const int error = errno;
      ::close(fd);
      return failedRead(error);
    }
  }
  ::close(fd);
  return result;
}

UserDefaults::UserDefaults(QString filePath, QObject* parent)
    : UserDefaults(std::move(filePath), readSettingsFile, parent) {}

UserDefaults::UserDefaults(QString filePath, SettingsFileReader reader, QObject* parent)
    : QObject(parent), filePath_(std::move(filePath)), reader_(std::move(reader)) {
  FileSettings file = readFile();
  if (file.settings) {
    stored_ = std::move(*file.settings);
    return;
  }
  unreadFile_ = file.problem;
  logLine(QStringLiteral("[Zephro] Settings file %1 %2; left it as it is")
              .arg(filePath_, file.problem));
}

UserDefaults& UserDefaults::standard() {
  static UserDefaults defaults(standardFilePath());
  return defaults;
}

QString UserDefaults::standardFilePath() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
         QStringLiteral("/zephro/com.zephro.app.json");
}

UserDefaults::FileSettings UserDefaults::readFile() {
  const SettingsFileRead read = reader_(filePath_);
  if (read.outcome == SettingsFileRead::Outcome::missing) return {QJsonObject{}, {}};
  if (read.outcome == SettingsFileRead::Outcome::failed) {
    return {std::nullopt, QStringLiteral("could not be read (%1)").arg(read.error)};
  }
  QJsonParseError error{};
  const QJsonDocument document = QJsonDocument::fromJson(read.contents, &error);
  if (error.error == QJsonParseError::NoError && document.isObject())
    return {document.object(), {}};

  const QString reason = error.error != QJsonParseError::NoError
                             ? error.errorString()
                             : QStringLiteral("not a JSON object");
  // The next write replaces the file, so what it holds is kept under a name of its own.
  const MovedAside moved = moveAside(filePath_);
  if (!moved.keptAs) {
    return {
        std::nullopt,
        QStringLiteral("could not be parsed (%1) nor moved aside (%2)").arg(reason, moved.error)};
  }
  logLine(QStringLiteral("[Zephro] Settings file %1 could not be parsed (%2); kept it as %3")
              .arg(filePath_, reason, *moved.keptAs));
  return {QJsonObject{}, {}};
}

std::optional<QStringList> UserDefaults::adoptUnreadFile() {
  FileSettings file = readFile();
  if (!file.settings) {
    unreadFile_ = file.problem;
    return std::nullopt;
  }
  QJsonObject merged = std::move(*file.settings);
  for (auto it = unsaved_.cbegin(); it != unsaved_.cend(); ++it) {
    if (it.value()) {
      merged.insert(it.key(), *it.value());
    } else {
      merged.remove(it.key());
    }
  }
  QStringList keys = stored_.keys() + merged.keys();
  keys.removeDuplicates();
  const QJsonObject before = std::exchange(stored_, std::move(merged));
  QStringList changed;
  for (const auto& key : keys) {
    if (valueIn(before, key) != object(key)) changed.push_back(key);
  }
  unreadFile_.reset();
  unsaved_.clear();
  return changed;
}

void UserDefaults::registerDefaults(const QVariantMap& fallbacks) {
  for (auto it = fallbacks.begin(); it != fallbacks.end(); ++it) {
    const QVariant before = object(it.key());
    registered_.insert(it.key(), it.value());
    if (object(it.key()) != before) emit valueChanged(it.key());
  }
}

QVariant UserDefaults::object(const QString& key) const {
  return valueIn(stored_, key);
}

QVariant UserDefaults::valueIn(const QJsonObject& settings, const QString& key) const {
  if (const auto it = settings.constFind(key); it != settings.constEnd()) {
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
  store(key, QJsonValue(value));
}

void UserDefaults::setString(const QString& key, const QString& value) {
  store(key, QJsonValue(value));
}

void UserDefaults::setData(const QString& key, const QByteArray& value) {
  store(key, encodeData(value));
}

void UserDefaults::remove(const QString& key) {
  // While the file is unread it may hold the key, so the removal is kept for it.
  if (!stored_.contains(key) && !unreadFile_) return;
  store(key, std::nullopt);
}

void UserDefaults::store(const QString& key, const std::optional<QJsonValue>& value) {
  const QVariant before = object(key);
  if (value) {
    stored_.insert(key, *value);
  } else {
    stored_.remove(key);
  }
  if (unreadFile_) unsaved_.insert(key, value);
  persist();
  if (object(key) != before) emit valueChanged(key);
}

void UserDefaults::persist() {
  if (unreadFile_) {
    const auto adopted = adoptUnreadFile();
    if (!adopted) {
      persisted_ = false;
      logLine(QStringLiteral("[Zephro] Failed to save settings to %1: the file %2")
                  .arg(filePath_, *unreadFile_));
      return;
    }
    write();
    for (const auto& key : *adopted) emit valueChanged(key);
    return;
  }
  write();
}

void UserDefaults::write() {
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

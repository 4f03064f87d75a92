#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QVariant>
#include <QVariantMap>
#include <optional>

#include "platform/defaults/DefaultsKeys.h"

namespace zephro {

// The application's key-value settings: Boolean, text and data values kept in
// one JSON file, plus registered fallbacks that answer for keys with no stored
// value and are never written. Every change is written through at once,
// atomically (a crash or a full disk leaves the previous file whole); a failed
// write is logged, the value stays in memory and the next change writes it again.
//
// Lives on the thread that made it (the main thread for the application).
class UserDefaults : public QObject {
  Q_OBJECT

 public:
  // Reads filePath if it exists; the file and its folder are made on the first write.
  explicit UserDefaults(QString filePath, QObject* parent = nullptr);

  // The application's own domain, in the XDG config folder. Main thread only.
  [[nodiscard]] static UserDefaults& standard();
  [[nodiscard]] static QString standardFilePath();

  [[nodiscard]] const QString& filePath() const { return filePath_; }

  // Fallbacks for keys with no stored value: bool, QString or QByteArray values.
  // They stay in memory only; registering again replaces the fallback of those keys.
  void registerDefaults(const QVariantMap& fallbacks);

  // The stored value, else the registered fallback, else an invalid QVariant. The
  // value is a bool, a QString or a QByteArray.
  [[nodiscard]] QVariant object(const QString& key) const;
  // False when the key holds no Boolean.
  [[nodiscard]] bool boolValue(const QString& key) const;
  [[nodiscard]] std::optional<QString> string(const QString& key) const;
  [[nodiscard]] std::optional<QByteArray> data(const QString& key) const;
  // Whether the key has a value of its own (a registered fallback does not count).
  [[nodiscard]] bool hasStoredValue(const QString& key) const;

  // The same reads with the key's declared fallback when neither a value nor a
  // registered fallback of the right type exists.
  [[nodiscard]] bool value(const defaults::BoolKey& key) const;
  [[nodiscard]] QString value(const defaults::TextKey& key) const;
  [[nodiscard]] std::optional<QByteArray> value(const defaults::DataKey& key) const;

  void setBool(const QString& key, bool value);
  void setString(const QString& key, const QString& value);
  void setData(const QString& key, const QByteArray& value);
  void remove(const QString& key);

  // False while the latest write to the file failed.
  [[nodiscard]] bool isPersisted() const { return persisted_; }

 signals:
  // The value a reader of this key sees has changed.
  void valueChanged(const QString& key);

 private:
  void load();
  void keepUnreadableFile(const QString& reason);
  void store(const QString& key, const QJsonValue& value);
  void persist();

  QString filePath_;
  QJsonObject stored_;
  QVariantMap registered_;
  bool persisted_ = true;
};

}  // namespace zephro

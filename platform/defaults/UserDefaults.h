#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>
#include <functional>
#include <optional>

#include "platform/defaults/DefaultsKeys.h"

namespace zephro {

// What reading the settings file found.
struct SettingsFileRead {
  enum class Outcome { missing, read, failed };
  Outcome outcome = Outcome::missing;
  QByteArray contents;  // read
  QString error;        // failed: the system's words for why
};
using SettingsFileReader = std::function<SettingsFileRead(const QString& path)>;

// The whole file. Only a file that is not there is missing; any other failure to open
// or read it (EIO, EMFILE, EACCES, a folder in its place) has failed.
[[nodiscard]] SettingsFileRead readSettingsFile(const QString& path);

// The application's key-value settings: Boolean, text and data values kept in
// one JSON file, plus registered fallbacks that answer for keys with no stored
// value and are never written. Every change is written through at once,
// atomically (a crash or a full disk leaves the previous file whole); a failed
// write is logged, the value stays in memory and the next change writes it again.
//
// A file that cannot be read is never replaced: until a later change finds it readable
// again, changes stay in memory, and then they are laid over what it holds. A file that
// reads but does not parse is moved aside under a new numbered name and replaced.
//
// Lives on the thread that made it (the main thread for the application).
class UserDefaults : public QObject {
  Q_OBJECT

 public:
  // Reads filePath if it exists; the file and its folder are made on the first write.
  explicit UserDefaults(QString filePath, QObject* parent = nullptr);
  // The same with the file read through reader (tests inject failures).
  UserDefaults(QString filePath, SettingsFileReader reader, QObject* parent = nullptr);

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

  // False while the latest write to the file failed or was withheld.
  [[nodiscard]] bool isPersisted() const { return persisted_; }

 signals:
  // The value a reader of this key sees has changed.
  void valueChanged(const QString& key);

 private:
  // The file's settings, or the reason it must be left alone.
  struct FileSettings {
    std::optional<QJsonObject> settings;
    QString problem;
  };

  [[nodiscard]] FileSettings readFile();
  // Once the unread file reads, its settings with the changes since laid over them
  // become the state; the keys whose values changed for readers. None while unread.
  [[nodiscard]] std::optional<QStringList> adoptUnreadFile();
  [[nodiscard]] QVariant valueIn(const QJsonObject& settings, const QString& key) const;
  // A value, or none to remove the key.
  void store(const QString& key, const std::optional<QJsonValue>& value);
  void persist();
  void write();

  QString filePath_;
  SettingsFileReader reader_;
  QJsonObject stored_;
  QVariantMap registered_;
  bool persisted_ = true;
  // While the file could not be read: why, and the changes made since (none = removed).
  std::optional<QString> unreadFile_;
  QHash<QString, std::optional<QJsonValue>> unsaved_;
};

}  // namespace zephro

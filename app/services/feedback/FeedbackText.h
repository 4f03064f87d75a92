#pragma once

#include <QtQml/qqmlregistration.h>
#include <QObject>
#include <QString>

namespace zephro {

// The feedback form's character arithmetic for QML, in user-perceived characters, the
// way the report cuts its texts: what the counter shows is what is sent.
class FeedbackText : public QObject {
  Q_OBJECT
  QML_ELEMENT
  QML_SINGLETON

 public:
  using QObject::QObject;

  [[nodiscard]] Q_INVOKABLE int characterCount(const QString& text) const;
  [[nodiscard]] Q_INVOKABLE QString firstCharacters(const QString& text, int count) const;
};

}  // namespace zephro

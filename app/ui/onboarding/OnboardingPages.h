#pragma once

#include <QtQml/qqmlregistration.h>
#include <QObject>
#include <QUrl>
#include <QVariantList>

namespace zephro {

// The first-run pages as QML sees them: per page its title and subtitle keys and the
// name and extension of its video ("" where a page has none), and where a video lives.
class OnboardingPages : public QObject {
  Q_OBJECT
  QML_ELEMENT
  QML_SINGLETON

  /// [{title, subtitle, resourceName, fileExtension}], in page order.
  Q_PROPERTY(QVariantList pages READ pages CONSTANT)
  Q_PROPERTY(int count READ count CONSTANT)

 public:
  using QObject::QObject;

  [[nodiscard]] static QVariantList pages();
  [[nodiscard]] static int count();

  // The video's file among the application's resources, first at their top, then in their
  // "onboarding" folder; an empty URL when it is in neither.
  Q_INVOKABLE [[nodiscard]] static QUrl videoUrl(const QString& resourceName,
                                                 const QString& fileExtension);
};

}  // namespace zephro

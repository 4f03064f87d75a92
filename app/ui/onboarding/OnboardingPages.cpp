#include "app/ui/onboarding/OnboardingPages.h"

#include <QVariantMap>

#include "app/ui/onboarding/OnboardingPage.h"
#include "platform/bundle/Bundle.h"

namespace zephro {
namespace {

QString text(std::string_view view) {
  return QString::fromUtf8(view.data(), static_cast<qsizetype>(view.size()));
}

}  // namespace

QVariantList OnboardingPages::pages() {
  QVariantList pages;
  for (int index = 0; index < count(); ++index) {
    const OnboardingPage& page = kOnboardingPages.at(static_cast<std::size_t>(index));
    const auto video = onboardingVideo(index);
    pages.append(QVariantMap{
        {QStringLiteral("title"), text(page.title)},
        {QStringLiteral("subtitle"), text(page.subtitle)},
        {QStringLiteral("resourceName"), video ? text(video->resourceName) : QString()},
        {QStringLiteral("fileExtension"), video ? text(video->fileExtension) : QString()},
    });
  }
  return pages;
}

int OnboardingPages::count() {
  return static_cast<int>(kOnboardingPages.size());
}

QUrl OnboardingPages::videoUrl(const QString& resourceName, const QString& fileExtension) {
  if (resourceName.isEmpty()) return {};
  const auto bundle = bundle::Bundle::main({});
  const std::string name = resourceName.toStdString();
  const std::string type = fileExtension.toStdString();
  auto path = bundle.pathForResource(name, type);
  if (!path) path = bundle.pathForResource(name, type, "onboarding");
  return path ? QUrl::fromLocalFile(QString::fromStdString(path->string())) : QUrl();
}

}  // namespace zephro

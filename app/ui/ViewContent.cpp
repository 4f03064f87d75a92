#include "app/ui/ViewContent.h"

#include <QQuickItem>
#include <QQuickView>
#include <string>

#include "platform/log/Log.h"

namespace zephro {

QQuickItem* loadContent(QQuickView& view, const QUrl& source, std::string_view window) {
  view.setSource(source);
  if (view.status() == QQuickView::Ready && view.rootObject() != nullptr) {
    return view.rootObject();
  }
  for (const auto& error : view.errors()) {
    log::write("[Zephro] " + std::string(window) + ": " + error.toString().toStdString());
  }
  return nullptr;
}

}  // namespace zephro

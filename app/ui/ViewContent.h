#pragma once

#include <QUrl>
#include <string_view>

class QQuickItem;
class QQuickView;

namespace zephro {

// Loads source into the view and answers its root item. When it does not load, each QML
// error is logged as "[Zephro] <window>: <error>" and the answer is null.
[[nodiscard]] QQuickItem* loadContent(QQuickView& view, const QUrl& source,
                                      std::string_view window);

}  // namespace zephro

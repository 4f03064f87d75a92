#include "platform/statusitem/StatusNotifierMenu.h"

#include <algorithm>
#include <utility>

#include "platform/statusitem/StatusNotifierMenuAdaptor.h"

namespace zephro::statusitem {

namespace {

constexpr int kRootId = 0;

// An underscore in a label marks the next letter as the entry's access key; a doubled one
// is an underscore.
QString escapedLabel(const QString& label) {
  QString escaped = label;
  escaped.replace(u'_', QStringLiteral("__"));
  return escaped;
}

QVariantMap filtered(QVariantMap properties, const QStringList& names) {
  if (names.isEmpty()) return properties;
  for (auto it = properties.begin(); it != properties.end();) {
    it = names.contains(it.key()) ? std::next(it) : properties.erase(it);
  }
  return properties;
}

}  // namespace

StatusNotifierMenu::StatusNotifierMenu(QDBusConnection bus, QObject* parent)
    : QObject(parent),
      bus_(std::move(bus)),
      adaptor_(std::make_unique<StatusNotifierMenuAdaptor>(*this)) {
  registerStatusItemTypes();
  bus_.registerObject(QString::fromLatin1(kObjectPath), this, QDBusConnection::ExportAdaptors);
}

StatusNotifierMenu::~StatusNotifierMenu() {
  bus_.unregisterObject(QString::fromLatin1(kObjectPath));
}

void StatusNotifierMenu::setEntries(const QStringList& labels) {
  if (labels == entries_) return;
  const QStringList before = std::exchange(entries_, labels);
  ++revision_;
  MenuItemPropertiesList relabelled;
  for (qsizetype i = 0; i < std::min(before.size(), labels.size()); ++i) {
    if (before[i] != labels[i]) {
      relabelled.append({static_cast<int>(i) + 1, *properties(static_cast<int>(i) + 1, {})});
    }
  }
  if (!relabelled.isEmpty()) emit adaptor_->ItemsPropertiesUpdated(relabelled, {});
  if (before.size() != labels.size()) emit adaptor_->LayoutUpdated(revision_, kRootId);
}

std::optional<MenuLayout> StatusNotifierMenu::layout(int parentId, int depth,
                                                     const QStringList& names) const {
  auto own = properties(parentId, names);
  if (!own) return std::nullopt;
  MenuLayout layout{parentId, std::move(*own), {}};
  // A depth of -1 asks for every level, 0 for the entry alone.
  if (parentId == kRootId && depth != 0) {
    for (int id = 1; id <= entries_.size(); ++id) {
      layout.children.append(QDBusVariant(QVariant::fromValue(*this->layout(id, 0, names))));
    }
  }
  return layout;
}

std::optional<QVariantMap> StatusNotifierMenu::properties(int id, const QStringList& names) const {
  if (id == kRootId) {
    return filtered({{QStringLiteral("children-display"), QStringLiteral("submenu")}}, names);
  }
  if (id < 1 || id > entries_.size()) return std::nullopt;
  return filtered({{QStringLiteral("label"), escapedLabel(entries_[id - 1])}}, names);
}

bool StatusNotifierMenu::handleEvent(int id, const QString& eventId) {
  if (!properties(id, {})) return false;
  if (id != kRootId && eventId == u"clicked") emit chosen(id - 1);
  return true;
}

}  // namespace zephro::statusitem

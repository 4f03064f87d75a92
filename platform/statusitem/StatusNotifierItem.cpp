#include "platform/statusitem/StatusNotifierItem.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QFile>
#include <atomic>

#include "platform/statusitem/StatusNotifierItemAdaptor.h"

namespace zephro::statusitem {

namespace {

// RequestName's flag and answer, as D-Bus defines them.
constexpr uint kDoNotQueue = 4;
constexpr uint kPrimaryOwner = 1;

QString nextServiceName() {
  static std::atomic<int> count = 0;
  return QStringLiteral("org.kde.StatusNotifierItem-%1-%2")
      .arg(QCoreApplication::applicationPid())
      .arg(++count);
}

QDBusMessage busCall(const QString& method) {
  return QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                        QStringLiteral("/org/freedesktop/DBus"),
                                        QStringLiteral("org.freedesktop.DBus"), method);
}

QDBusMessage watcherCall(const QString& interface, const QString& method) {
  return QDBusMessage::createMethodCall(QString::fromLatin1(StatusNotifierItem::kWatcherService),
                                        QString::fromLatin1(StatusNotifierItem::kWatcherPath),
                                        interface, method);
}

// The label sits beside the picture on one line.
QString oneLine(const QString& text) {
  QString line = text;
  line.replace(u'\n', u' ');
  return line;
}

// The name a process gave itself, as ps shows it; empty when the process is gone.
QString programOf(uint pid) {
  QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
  if (!comm.open(QIODevice::ReadOnly)) return {};
  constexpr qint64 kCommLength = 64;
  return QString::fromUtf8(comm.read(kCommLength)).trimmed();
}

}  // namespace

StatusNotifierItem::StatusNotifierItem(QDBusConnection bus, Options options, QObject* parent)
    : QObject(parent),
      bus_(std::move(bus)),
      options_(std::move(options)),
      serviceName_(nextServiceName()),
      adaptor_(std::make_unique<StatusNotifierItemAdaptor>(*this)),
      menu_(bus_),
      watcher_(QString::fromLatin1(kWatcherService), bus_,
               QDBusServiceWatcher::WatchForOwnerChange) {
  registerStatusItemTypes();
  bus_.registerObject(QString::fromLatin1(kObjectPath), this, QDBusConnection::ExportAdaptors);
  // A new owner is a new watcher that knows nothing of the item, even when it took the
  // name straight from the old one.
  connect(&watcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
          [this](const QString&, const QString&, const QString& newOwner) {
            watcherVanished();
            if (!newOwner.isEmpty()) registerWithWatcher();
          });
  for (const char* signal : {"StatusNotifierHostRegistered", "StatusNotifierHostUnregistered"}) {
    bus_.connect(QString::fromLatin1(kWatcherService), QString::fromLatin1(kWatcherPath),
                 QString::fromLatin1(kWatcherInterface), QString::fromLatin1(signal), this,
                 SLOT(readHostRegistered()));
  }
  requestName();
}

StatusNotifierItem::~StatusNotifierItem() {
  bus_.unregisterObject(QString::fromLatin1(kObjectPath));
  // Sent without waiting for the answer; the watcher drops the item when the name goes.
  if (nameOwned_) {
    QDBusMessage release = busCall(QStringLiteral("ReleaseName"));
    release << serviceName_;
    bus_.send(release);
  }
}

QString StatusNotifierItem::statusText() const {
  switch (status_) {
    case Status::passive:
      return QStringLiteral("Passive");
    case Status::needsAttention:
      return QStringLiteral("NeedsAttention");
    case Status::active:
      break;
  }
  return QStringLiteral("Active");
}

ToolTip StatusNotifierItem::toolTip() const {
  return {QString(), {}, options_.title, description_};
}

QString StatusNotifierItem::accessibleDescription() const {
  return label_.isEmpty() ? options_.title : options_.title + QStringLiteral(": ") + label_;
}

void StatusNotifierItem::setPicture(const QList<QImage>& images, const QString& text,
                                    const QString& iconName) {
  IconPixmapList pixmaps;
  pixmaps.reserve(images.size());
  for (const QImage& image : images) pixmaps.append(toIconPixmap(image));
  if (pixmaps != iconPixmaps_ || iconName != iconName_) {
    iconPixmaps_ = std::move(pixmaps);
    iconName_ = iconName;
    emit adaptor_->NewIcon();
  }
  if (text != description_) {
    description_ = text;
    emit adaptor_->NewToolTip();
  }
  if (const QString label = oneLine(text); label != label_) {
    label_ = label;
    emit adaptor_->XAyatanaNewLabel(label_, label_);
  }
}

void StatusNotifierItem::setStatus(Status status) {
  if (status == status_) return;
  status_ = status;
  emit adaptor_->NewStatus(statusText());
}

void StatusNotifierItem::requestName() {
  QDBusMessage request = busCall(QStringLiteral("RequestName"));
  request << serviceName_ << kDoNotQueue;
  whenAnswered(bus_.asyncCall(request), [this](const QDBusMessage& reply) {
    nameOwned_ = reply.type() == QDBusMessage::ReplyMessage &&
                 reply.arguments().value(0).toUInt() == kPrimaryOwner;
    if (nameOwned_) {
      registerWithWatcher();
    } else {
      setAvailability(Availability::unavailable);
    }
  });
}

void StatusNotifierItem::registerWithWatcher() {
  // Until the name is ours, a watcher could not reach the item; requestName() comes back.
  if (!nameOwned_) return;
  const int attempt = ++attempt_;
  setRegistered(false);
  QDBusMessage call = watcherCall(QString::fromLatin1(kWatcherInterface),
                                  QStringLiteral("RegisterStatusNotifierItem"));
  call << QString::fromLatin1(kObjectPath);
  whenAnswered(bus_.asyncCall(call), [this, attempt](const QDBusMessage& reply) {
    if (attempt != attempt_) return;
    setRegistered(reply.type() == QDBusMessage::ReplyMessage);
    if (registered_) {
      readWatcherProgram();
      readHostRegistered();
    } else {
      updateAvailability();
    }
  });
}

void StatusNotifierItem::readHostRegistered() {
  if (!registered_) return;
  const int attempt = attempt_;
  QDBusMessage get =
      watcherCall(QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
  get << QString::fromLatin1(kWatcherInterface) << QStringLiteral("IsStatusNotifierHostRegistered");
  whenAnswered(bus_.asyncCall(get), [this, attempt](const QDBusMessage& reply) {
    if (attempt != attempt_) return;
    // A watcher that cannot say took the item all the same; believe it shows it.
    hostRegistered_ = reply.type() != QDBusMessage::ReplyMessage ||
                      qvariant_cast<QDBusVariant>(reply.arguments().value(0)).variant().toBool();
    updateAvailability();
  });
}

void StatusNotifierItem::readWatcherProgram() {
  const int attempt = attempt_;
  QDBusMessage call = busCall(QStringLiteral("GetConnectionUnixProcessID"));
  call << QString::fromLatin1(kWatcherService);
  whenAnswered(bus_.asyncCall(call), [this, attempt](const QDBusMessage& reply) {
    if (attempt != attempt_) return;
    setWatcherProgram(reply.type() == QDBusMessage::ReplyMessage
                          ? programOf(reply.arguments().value(0).toUInt())
                          : QString());
  });
}

void StatusNotifierItem::setWatcherProgram(const QString& program) {
  if (program == watcherProgram_) return;
  watcherProgram_ = program;
  emit watcherProgramChanged();
}

void StatusNotifierItem::watcherVanished() {
  ++attempt_;
  setRegistered(false);
  hostRegistered_ = false;
  setWatcherProgram({});
  updateAvailability();
}

void StatusNotifierItem::updateAvailability() {
  setAvailability(registered_ && hostRegistered_ ? Availability::available
                                                 : Availability::unavailable);
}

void StatusNotifierItem::setRegistered(bool registered) {
  if (registered == registered_) return;
  registered_ = registered;
  emit registrationChanged();
}

void StatusNotifierItem::setAvailability(Availability availability) {
  if (availability == availability_) return;
  availability_ = availability;
  emit availabilityChanged();
}

void StatusNotifierItem::whenAnswered(const QDBusPendingCall& call,
                                      std::function<void(const QDBusMessage& reply)> onReply) {
  // Parented to the item, so an answer that comes after the item is gone runs nothing.
  // NOLINTNEXTLINE(cppcoreguidelines-owning-memory): the parent owns it, as Qt requires.
  auto* watcher = new QDBusPendingCallWatcher(call, this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this,
          [onReply = std::move(onReply)](QDBusPendingCallWatcher* finished) {
            finished->deleteLater();
            onReply(finished->reply());
          });
}

}  // namespace zephro::statusitem

#include "app/shell/SingleInstance.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>

#include "app/intents/BusError.h"
#include "platform/log/Log.h"

namespace zephro {
namespace {

constexpr const char* kApplicationInterface = "org.freedesktop.Application";
constexpr const char* kOnboardingAction = "onboarding";

// org.freedesktop.Application, as desktops and later launches call it.
class ApplicationAdaptor final : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")

 public:
  explicit ApplicationAdaptor(SingleInstance& instance)
      : QDBusAbstractAdaptor(&instance), instance_(instance) {}

 public slots:
  void Activate(const QVariantMap& /*platformData*/) { instance_.activate(); }
  // Zephro opens no files or links.
  void Open(const QStringList& /*uris*/, const QVariantMap& /*platformData*/,
            const QDBusMessage& call) {
    instance_.bus().send(
        call.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.NotSupported"),
                              QStringLiteral("Zephro opens no files.")));
  }
  void ActivateAction(const QString& name, const QVariantList& parameter,
                      const QVariantMap& /*platformData*/, const QDBusMessage& call) {
    instance_.activateAction(name, parameter, call);
  }

 private:
  SingleInstance& instance_;
};

// A plain function, so that the action lives in its frame while it runs.
QCoro::Task<QVariantList> noValues(QCoro::Task<> action) {
  co_await action;
  co_return QVariantList{};
}

QDBusMessage callFor(const QStringList& arguments) {
  if (arguments.contains(QStringLiteral("--show-onboarding"))) {
    auto call = QDBusMessage::createMethodCall(kApplicationBusName, kApplicationObjectPath,
                                               kApplicationInterface, "ActivateAction");
    call << QString::fromLatin1(kOnboardingAction) << QVariantList{} << QVariantMap{};
    return call;
  }
  auto call = QDBusMessage::createMethodCall(kApplicationBusName, kApplicationObjectPath,
                                             kApplicationInterface, "Activate");
  call << QVariantMap{};
  return call;
}

}  // namespace

SingleInstance::SingleInstance(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {
  new ApplicationAdaptor(*this);  // owned by this object, as Qt's adaptors are
}

SingleInstance::~SingleInstance() {
  if (!owner_) return;
  bus_.unregisterObject(kApplicationObjectPath);
  bus_.unregisterService(kApplicationBusName);
}

SingleInstance::Claim SingleInstance::claim(const QStringList& arguments) {
  if (!bus_.isConnected()) return Claim::noBus;
  // The object first, so that a launch racing this one finds it as soon as the name.
  if (!bus_.registerObject(kApplicationObjectPath, this)) return Claim::noBus;
  if (bus_.registerService(kApplicationBusName)) {
    owner_ = true;
    return Claim::first;
  }
  bus_.unregisterObject(kApplicationObjectPath);
  const auto reply = bus_.call(callFor(arguments));
  // An owner that cannot answer is stuck or going away; starting a second one beside
  // it would fight over the fans, so this launch still ends.
  if (reply.type() == QDBusMessage::ErrorMessage) {
    log::write("[Zephro] Zephro is already running but did not answer: " +
               reply.errorMessage().toStdString());
  }
  return Claim::forwarded;
}

void SingleInstance::activate() {
  emit activated();
}

void SingleInstance::setActionHandler(ActionHandler handler,
                                      const LocalizationManager& localization) {
  actionHandler_ = std::move(handler);
  localization_ = &localization;
}

void SingleInstance::activateAction(const QString& name, const QVariantList& parameter,
                                    const QDBusMessage& call) {
  if (!actionHandler_) {
    bus_.send(call.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.Failed"),
                                    QStringLiteral("Zephro is still starting.")));
    return;
  }
  call.setDelayedReply(true);
  replyWhenDone(noValues(actionHandler_(name, parameter)), call, bus_, *localization_);
}

}  // namespace zephro

#include "SingleInstance.moc"

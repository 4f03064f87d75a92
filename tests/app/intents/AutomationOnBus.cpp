#include "tests/app/intents/AutomationOnBus.h"

#include <QDBusPendingCall>

#include "tests/app/core/TaskRunner.h"
#include "tests/app/services/QuietUpdater.h"
#include "tests/platform/servicemanager/TestHelperLayout.h"

namespace zephro::testing {
namespace {

DevelopmentLayout layoutIn(const TempDir& dir, const std::filesystem::path& machineProfile) {
  auto layout = testHelperLayout(dir / "runtime", dir / "helper.sock");
  if (!machineProfile.empty()) layout.machineProfile = machineProfile;
  return layout;
}

}  // namespace

AutomationOnBus::AutomationOnBus(std::filesystem::path machineProfile, FanIntentsOptions options)
    : layout_(layoutIn(dir_, machineProfile)),
      runner_(std::make_shared<ProcessCommandRunner>()),
      services_(layout_, runner_,
                std::make_unique<AutostartLoginItem>(dir_ / "zephro.desktop", "zephro"),
                StartupSettingsOpener(runner_, "", "")),
      vm_(services_, quickOptions(), layout_.socketPath.string()),
      caller_(bus_.connect(QStringLiteral("caller"))),
      instance_(bus_.connect(QStringLiteral("application"))),
      localization_(vm_.defaults, [] { return QStringList{QStringLiteral("en-US")}; }, {}),
      updates_(std::make_unique<AppUpdateManager>(
          [](std::shared_ptr<update::UserDriver> driver, update::UpdaterDelegate&) {
            return std::make_unique<QuietUpdater>(std::move(driver));
          },
          localization_, [](const QUrl&) {})),
      quit_([]() -> QCoro::Task<> { co_return; }) {
  (void)instance_.claim({});
  automation_ = std::make_unique<Automation>(
      instance_,
      Automation::Parts{.application = [this]() -> FanControlViewModel* {
                          return launched_ ? vm_.viewModel.get() : nullptr;
                        },
                        .client = *vm_.client,
                        .defaults = vm_.defaults,
                        .presets = vm_.viewModel->presetStore(),
                        .updates = *updates_,
                        .quit = quit_,
                        .localization = localization_},
      options);
}

AutomationOnBus::~AutomationOnBus() {
  automation_.reset();
  // Never leave a helper running, whatever the test did.
  (void)services_.daemonService(kHelperPlistName)->unregisterService();
}

bool AutomationOnBus::installHelper() {
  return awaitTask(model().installHelper()).succeeded() &&
         model().connectionState() == ConnectionState::connected();
}

void AutomationOnBus::stopHelper() {
  model().stopRefreshing();
  (void)services_.daemonService(kHelperPlistName)->unregisterService();
  vm_.client->invalidateConnection();
}

std::unique_ptr<smc::EmulatedSmc> AutomationOnBus::machine() const {
  return std::make_unique<smc::EmulatedSmc>(smc::MachineProfile::load(layout_.machineProfile),
                                            layout_.machineStateFile());
}

QDBusMessage AutomationOnBus::call(const QString& interface, const QString& method,
                                   const QVariantList& arguments,
                                   std::chrono::milliseconds timeout) {
  auto message = QDBusMessage::createMethodCall(QString::fromLatin1(kApplicationBusName),
                                                QString::fromLatin1(kApplicationObjectPath),
                                                interface, method);
  message.setArguments(arguments);
  const QDBusPendingCall pending = caller_.asyncCall(message, static_cast<int>(timeout.count()));
  (void)spinUntil([&] { return pending.isFinished(); }, timeout + std::chrono::seconds(5));
  return pending.reply();
}

QDBusMessage AutomationOnBus::intents(const QString& method, const QVariantList& arguments) {
  return call(QString::fromLatin1(kIntentsInterface), method, arguments);
}

QDBusMessage AutomationOnBus::activateAction(const QString& name, const QVariantList& parameter) {
  return call(QStringLiteral("org.freedesktop.Application"), QStringLiteral("ActivateAction"),
              {name, QVariant::fromValue(parameter), QVariantMap{}});
}

QVariant AutomationOnBus::property(const QString& name) {
  const auto reply = call(QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                          {QString::fromLatin1(kIntentsInterface), name});
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return {};
  return reply.arguments().front();
}

}  // namespace zephro::testing

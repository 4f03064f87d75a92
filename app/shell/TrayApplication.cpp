#include "app/shell/TrayApplication.h"

#include <QtQml/qqmlextensionplugin.h>
#include <QApplication>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <csignal>

#include "app/core/UnixSignalNotifier.h"
#include "app/services/AppUpdateManager.h"
#include "app/services/ApplicationUpdater.h"
#include "app/shell/AppDelegate.h"
#include "app/shell/Automation.h"
#include "app/shell/DesktopTray.h"
#include "app/shell/QuitCoordinator.h"
#include "app/shell/SingleInstance.h"
#include "app/ui/LocalizationManager.h"
#include "app/viewmodel/FanControlViewModel.h"
#include "app/viewmodel/HeadlessApp.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/systeminfo/SystemInfo.h"

Q_IMPORT_QML_PLUGIN(Zephro_UiPlugin)
Q_IMPORT_QML_PLUGIN(Zephro_ViewModelPlugin)
Q_IMPORT_QML_PLUGIN(Zephro_ServicesPlugin)
Q_IMPORT_QML_PLUGIN(Zephro_PopoverPlugin)
Q_IMPORT_QML_PLUGIN(Zephro_PresetsPlugin)
Q_IMPORT_QML_PLUGIN(Zephro_FeedbackPlugin)
Q_IMPORT_QML_PLUGIN(Zephro_OnboardingPlugin)
Q_IMPORT_QML_PLUGIN(Zephro_AboutPlugin)

namespace zephro {

int runTrayApplication(FanControlViewModel& viewModel, const QStringList& arguments) {
  // The windows are small and flat: Qt Quick's software adaptation draws them without
  // loading an OpenGL driver, whose LLVM alone held 44 MiB for a popover that is closed
  // most of the time. QT_QUICK_BACKEND still picks another.
  if (qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND")) {
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
  }
  SingleInstance instance;
  if (instance.claim(arguments) == SingleInstance::Claim::forwarded) return 0;
  // Left from an update: the tree it replaced goes once the new one runs.
  removeReplacedInstallTree();

  QApplication::setQuitOnLastWindowClosed(false);
  QuitCoordinator quit([&viewModel] { return releaseFansForQuit(viewModel); });
  QObject::connect(&quit, &QuitCoordinator::finished, qApp, &QCoreApplication::quit);
  const UnixSignalNotifier quitSignals({SIGINT, SIGTERM, SIGHUP});
  QObject::connect(&quitSignals, &UnixSignalNotifier::received, &quit,
                   &QuitCoordinator::requestQuit);
  // The session is ending: the fans go back before the desktop takes the process.
  QObject::connect(qApp, &QGuiApplication::commitDataRequest, &quit, &QuitCoordinator::requestQuit);

  // An update relaunches through the same way out.
  std::function<void()> afterQuit;
  QObject::connect(&quit, &QuitCoordinator::finished, qApp, [&afterQuit] {
    if (afterQuit) afterQuit();
  });
  AppUpdateManager updates(
      [&quit, &afterQuit](std::shared_ptr<update::UserDriver> driver,
                          update::UpdaterDelegate& delegate) {
        return makeApplicationUpdater(std::move(driver), delegate,
                                      [&quit, &afterQuit](std::function<void()> then) {
                                        afterQuit = std::move(then);
                                        quit.requestQuit();
                                      });
      },
      LocalizationManager::shared());

  // Automation acts through the view model of the application that has finished launching.
  Automation automation(instance, {.application = []() -> FanControlViewModel* {
                                     auto* delegate = AppDelegate::shared();
                                     return delegate != nullptr ? &delegate->viewModel() : nullptr;
                                   },
                                   .client = viewModel.client(),
                                   .defaults = UserDefaults::standard(),
                                   .presets = viewModel.presetStore(),
                                   .curves = viewModel.curveStore(),
                                   .updates = updates,
                                   .quit = quit,
                                   .localization = LocalizationManager::shared()});

  AppDelegate::Options options;
  options.arguments = arguments;
  options.isMacBookAir = SystemInfo::isMacBookAir(SystemInfo::model());
  AppDelegate delegate(viewModel, UserDefaults::standard(), updates, quit, makeDesktopTray,
                       options);
  QObject::connect(&instance, &SingleInstance::activated, &delegate, &AppDelegate::showPopover);
  automation.actions().add(QStringLiteral("presets"), ApplicationActions::immediate([&delegate] {
                             delegate.showPresetWindow();
                           }));
  automation.actions().add(QStringLiteral("feedback"), ApplicationActions::immediate([&delegate] {
                             delegate.showFeedbackWindow();
                           }));
  automation.actions().add(QStringLiteral("onboarding"), ApplicationActions::immediate([&delegate] {
                             delegate.showOnboarding();
                           }));
  automation.actions().add(QStringLiteral("about"), ApplicationActions::immediate([&delegate] {
                             delegate.showAboutWindow();
                           }));
  delegate.applicationDidFinishLaunching();
  return QApplication::exec();
}

}  // namespace zephro

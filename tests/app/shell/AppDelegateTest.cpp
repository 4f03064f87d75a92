#include "app/shell/AppDelegate.h"

#include <gtest/gtest.h>

#include <QtQml/qqmlextensionplugin.h>
#include <QCoro/QCoroTimer>
#include <QDBusConnection>
#include <QQuickItem>
#include <QSignalSpy>
#include <future>
#include <vector>

#include "app/shell/QuitCoordinator.h"
#include "app/shell/SingleInstance.h"
#include "app/shell/StatusPicture.h"
#include "app/ui/LocalizationManager.h"
#include "app/ui/SymbolCatalog.h"
#include "platform/defaults/DefaultsKeys.h"
#include "tests/app/core/TaskRunner.h"
#include "tests/app/ui/popover/PopoverFixture.h"

Q_IMPORT_QML_PLUGIN(Zephro_PopoverPlugin)
Q_IMPORT_QML_PLUGIN(Zephro_PresetsPlugin)
Q_IMPORT_QML_PLUGIN(Zephro_FeedbackPlugin)
Q_IMPORT_QML_PLUGIN(Zephro_OnboardingPlugin)
Q_IMPORT_QML_PLUGIN(Zephro_AboutPlugin)

namespace zephro {
namespace {

using testing::spinUntil;

// The tray as the desktop would be: the test clicks it and reads what it shows.
class RecordingTray final : public TrayEntry {
 public:
  void showReading(const StatusReading& reading) override {
    const auto draw = [&reading](double ratio) {
      return drawStatusPicture(reading, TrayHost{}, ratio, SymbolCatalog::shared());
    };
    const auto picture = draw(1);
    sizes.push_back({picture.image.size(), draw(2).image.size()});
    texts.push_back(picture.text);
  }
  [[nodiscard]] bool isShown() const override { return true; }
  void click() { emit activated(QPoint(600, 10)); }

  std::vector<std::pair<QSize, QSize>> sizes;
  QStringList texts;
};

struct Shell {
  // hasSeenOnboarding is what the settings hold at launch; arguments are the process's.
  explicit Shell(std::chrono::milliseconds reopenGuard, bool hasSeenOnboarding = true,
                 QStringList arguments = {}) {
    fixture->serveFans(2, 2200);
    fixture->defaults().setBool(QLatin1StringView(defaults::hasSeenOnboarding.name),
                                hasSeenOnboarding);
    AppDelegate::Options options;
    options.arguments = std::move(arguments);
    options.statusInterval = std::chrono::milliseconds(20);
    options.reopenGuard = reopenGuard;
    delegate = std::make_unique<AppDelegate>(
        *fixture->viewModel(), fixture->defaults(), *fixture->updateManager(), quit,
        [this] {
          auto entry = std::make_unique<RecordingTray>();
          tray = entry.get();
          return entry;
        },
        options);
    delegate->applicationDidFinishLaunching();
  }
  ~Shell() {
    delegate.reset();
    fixture.reset();
  }
  [[nodiscard]] bool shown() const { return delegate->popover().isShown(); }

  std::unique_ptr<testing::PopoverFixture> fixture = std::make_unique<testing::PopoverFixture>();
  QuitCoordinator quit{[]() -> QCoro::Task<> { co_return; }};
  RecordingTray* tray = nullptr;
  std::unique_ptr<AppDelegate> delegate;
};

// Twice: the About panel comes back as it was, the feedback form empty.
TEST(AppDelegate, ThePopoversEntriesOpenTheirWindows) {
  Shell shell(std::chrono::milliseconds(0));
  const auto click = [&shell](const char* name) {
    shell.tray->click();
    auto* entry = shell.delegate->popover().rootItem()->findChild<QQuickItem*>(name);
    ASSERT_NE(entry, nullptr) << name;
    QMetaObject::invokeMethod(entry, "clicked");
    EXPECT_FALSE(shell.shown()) << name;
  };
  QQuickItem* firstAbout = nullptr;
  for (int opening = 0; opening < 2; ++opening) {
    click("addPreset");
    PresetWindowController* presets = shell.delegate->presetWindow();
    ASSERT_TRUE(presets && presets->window().isVisible() && presets->content());
    presets->window().close();

    click("about");
    AboutWindowController* about = shell.delegate->aboutWindow();
    ASSERT_TRUE(about && about->window().isVisible());
    if (opening == 0) firstAbout = about->content();
    EXPECT_EQ(about->content(), firstAbout);
    about->window().close();

    click("feedback");
    FeedbackWindowController* feedback = shell.delegate->feedbackWindow();
    ASSERT_TRUE(feedback && feedback->window().isVisible() && feedback->content());
    QQuickItem* form = feedback->content();
    EXPECT_EQ(
        std::pair(form->property("message").toString(), form->property("category").toString()),
        std::pair(QString(), QString("bug")));
    form->setProperty("message", "Left unsent");
    form->setProperty("category", "idea");
    QMetaObject::invokeMethod(form, "closeRequested");
    EXPECT_FALSE(feedback->window().isVisible());
  }
}

TEST(AppDelegate, LaunchShowsTheOnboardingWhenAskedOrNeverSeen) {
  for (const auto& [seenBefore, argument, shown] :
       {std::tuple{false, "", true}, {true, "--show-onboarding", true}, {true, "", false}}) {
    SCOPED_TRACE(std::string(argument) + (seenBefore ? " seen" : " unseen"));
    Shell shell(std::chrono::milliseconds(0), seenBefore,
                *argument ? QStringList{argument} : QStringList{});
    OnboardingWindowController* onboarding = shell.delegate->onboardingWindow();
    EXPECT_EQ(onboarding != nullptr && onboarding->isVisible(), shown);
    EXPECT_TRUE(shell.fixture->defaults().value(defaults::hasSeenOnboarding));
    if (!shown) continue;
    // The tray leads back to the first-run window instead of opening the popover.
    shell.tray->click();
    EXPECT_FALSE(shell.shown());
    EXPECT_TRUE(onboarding->isVisible());
    onboarding->window().close();
    shell.tray->click();
    EXPECT_TRUE(shell.shown());
  }
}

TEST(AppDelegate, TheTrayShowsTheReadingAndTogglesThePopoverButNotStraightAfterItClosed) {
  Shell shell(std::chrono::milliseconds(300));
  auto& viewModel = *shell.fixture->viewModel();
  ASSERT_TRUE(
      spinUntil([&] { return !shell.tray->texts.isEmpty() && viewModel.fans().size() == 2; }));
  // The icon only: one square picture at 1x and 2x, no text.
  EXPECT_EQ(shell.tray->sizes.back().second, shell.tray->sizes.back().first * 2);
  EXPECT_TRUE(viewModel.isRefreshing());
  shell.tray->click();
  EXPECT_TRUE(shell.shown());
  shell.tray->click();
  EXPECT_FALSE(shell.shown());
  EXPECT_FALSE(viewModel.isRefreshing()) << "nothing in the tray needs the fans polled";
  // The click that made the popover lose its focus arrives just after it closed.
  shell.tray->click();
  EXPECT_FALSE(shell.shown());

  const auto showRPM = QString::fromLatin1(defaults::showRPMInMenuBar.name);
  shell.fixture->defaults().setBool(showRPM, true);
  EXPECT_TRUE(viewModel.isRefreshing());
  ASSERT_TRUE(spinUntil([&] { return shell.tray->texts.back() == QStringLiteral("2200 RPM"); }));
  shell.fixture->defaults().setBool(showRPM, false);
  EXPECT_FALSE(viewModel.isRefreshing());
  spinUntil([] { return false; }, std::chrono::milliseconds(400));
  shell.tray->click();
  EXPECT_TRUE(shell.shown());

  // Quitting from the entry's menu goes the way every quit does.
  QSignalSpy finished(&shell.quit, &QuitCoordinator::finished);
  emit shell.tray->quitRequested();
  EXPECT_TRUE(spinUntil([&] { return finished.count() == 1; }));
}

// A later launch, on a thread of its own so that this thread's event loop can answer it.
SingleInstance::Claim launch(const QString& name, const QStringList& arguments) {
  auto claim = std::async(std::launch::async, [name, arguments] {
    const auto bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
    const auto result = SingleInstance(bus).claim(arguments);
    QDBusConnection::disconnectFromBus(name);
    return result;
  });
  testing::spinUntil(
      [&] { return claim.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
  return claim.get();
}

TEST(SingleInstance, ALaterLaunchHandsItsArgumentsToTheFirst) {
  auto bus = QDBusConnection::sessionBus();
  ASSERT_TRUE(bus.isConnected()) << "the tests run on a private session bus";
  auto first = std::make_unique<SingleInstance>(bus);
  ASSERT_EQ(first->claim({}), SingleInstance::Claim::first);
  QSignalSpy activated(first.get(), &SingleInstance::activated);
  QStringList actions;
  const testing::TempDir dir;
  UserDefaults defaults(QString::fromStdString((dir / "settings.json").string()));
  const LocalizationManager localization(defaults);
  // The handler's task ends before it first suspends, so its captures outlive it.
  first->setActionHandler(
      [&actions](QString name, QVariantList /*parameter*/) -> QCoro::Task<> {
        actions.append(name);
        co_return;
      },
      localization);

  EXPECT_EQ(launch("later", {}), SingleInstance::Claim::forwarded);
  EXPECT_EQ(launch("later", {"--show-onboarding"}), SingleInstance::Claim::forwarded);
  EXPECT_EQ(activated.count(), 1);
  EXPECT_EQ(actions, QStringList{"onboarding"});

  // Once the first is gone the name is free for the next launch.
  first.reset();
  EXPECT_EQ(launch("next", {}), SingleInstance::Claim::first);
}

// Hands the fans back a turn of the event loop later, counting the hand-backs.
QCoro::Task<> slowHandBack(int* handBacks) {
  ++*handBacks;
  co_await QCoro::sleepFor(std::chrono::milliseconds(20));
}

TEST(QuitCoordinator, ASecondRequestWaitsForTheFirstHandBack) {
  int handBacks = 0;
  QuitCoordinator quit([&handBacks] { return slowHandBack(&handBacks); });
  QSignalSpy finished(&quit, &QuitCoordinator::finished);
  quit.requestQuit();
  quit.requestQuit();
  EXPECT_EQ(finished.count(), 0);
  ASSERT_TRUE(testing::spinUntil([&] { return finished.count() > 0; }));
  QCoreApplication::processEvents();
  EXPECT_EQ(finished.count(), 1);
  EXPECT_EQ(handBacks, 1);
}

// The box of the picture's opaque pixels, in device pixels.
QRect inkBox(const QImage& image) {
  QRect box;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if (qAlpha(image.pixel(x, y)) > 128) box |= QRect(x, y, 1, 1);
    }
  }
  return box;
}

TEST(StatusPictureTest, EachHostAndDisplayCaseHasItsSizeTextAndIcon) {
  using enum TrayShape;
  const int icon = 18 + 4;  // the icon and the gap after it
  const struct {
    const char* shows;
    TrayShape shape;
    bool temperature, rpm, iconAsked;
    int width;
    const char* text;
    const char* drawn;
    bool iconShown;
  } cases[] = {
      {"nothing: the icon alone, even when switched off", wide, false, false, false, 22, "", "",
       true},
      {"temperature", wide, true, false, false, 43, "52°C", "52°C", false},
      {"speed", wide, false, true, false, 88, "2200 RPM", "2200 RPM", false},
      {"both, temperature on top", wide, true, true, false, 60, "52°C\n2200 RPM", "52°C\n2200 RPM",
       false},
      {"both and icon", wide, true, true, true, 60 + icon, "52°C\n2200 RPM", "52°C\n2200 RPM",
       true},
      {"a square: the temperature's number", square, true, true, true, 22, "52°C\n2200 RPM", "52°",
       false},
      {"a square: the speed in thousands", square, false, true, true, 22, "2200 RPM", "2.2k",
       false},
      {"beside a label: the icon", labelled, true, true, false, 22, "52°C\n2200 RPM", "", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.shows);
    StatusReading shown;
    shown.showTemperature = c.temperature;
    shown.showRPM = c.rpm;
    shown.showIcon = c.iconAsked;
    shown.celsius = 51.5;
    shown.fans = {{0, 1800.2, 1200, 6000, FanMode::system},
                  {1, 2200.9, 1200, 6000, FanMode::system}};
    const StatusLayout layout = layoutStatusPicture(shown, c.shape);
    EXPECT_EQ(std::pair(layout.iconShown, layout.drawnText),
              std::pair(c.iconShown, QString::fromUtf8(c.drawn)));
    const auto draw = [&](double devicePixelRatio) {
      return drawStatusPicture(shown, {c.shape, true}, devicePixelRatio, SymbolCatalog::shared());
    };
    const StatusPicture normal = draw(1);
    const StatusPicture doubled = draw(2);
    const QSize size(c.width, 22);
    EXPECT_EQ(std::pair(normal.text, doubled.text),
              std::pair(QString::fromUtf8(c.text), QString::fromUtf8(c.text)));
    EXPECT_EQ(std::pair(normal.image.size(), doubled.image.size()), std::pair(size, size * 2));
    EXPECT_EQ(doubled.image.deviceIndependentSize(), QSizeF(size));
    const QRect ink = inkBox(normal.image);
    EXPECT_FALSE(ink.isEmpty()) << "nothing drawn";
    // A host that scales the square to its panel still shows text a good part of its height
    // (the wide picture squeezed into it showed text 3 pixels tall).
    if (c.shape == square) {
      EXPECT_GE(ink.width(), 17);
      EXPECT_GE(ink.height(), 8);
    }
  }
  const std::tuple<const char*, TrayShape, std::optional<bool>> hosts[] = {
      {"xfce4-panel", square, true},
      {"panel-1-systray", square, true},
      {"lxqt-panel", square, std::nullopt},
      {"plasmashell", square, std::nullopt},
      {"waybar", wide, true},
      {"gnome-shell", labelled, std::nullopt},
      {"", square, std::nullopt}};
  for (const auto& [program, shape, dark] : hosts) {
    EXPECT_EQ(std::pair(trayShapeOf(program), panelIsDarkByDefault(program)),
              std::pair(shape, dark))
        << program;
  }
}

}  // namespace
}  // namespace zephro

#include "app/shell/AppDelegate.h"

#include <gtest/gtest.h>

#include <QtQml/qqmlextensionplugin.h>
#include <QQuickItem>
#include <vector>

#include "app/shell/QuitCoordinator.h"
#include "app/viewmodel/FanControlViewModel.h"
#include "platform/defaults/DefaultsKeys.h"
#include "platform/defaults/UserDefaults.h"
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
  void setPicture(const QImage& picture, const QImage& picture2x, const QString& text) override {
    sizes.push_back({picture.size(), picture2x.size()});
    texts.push_back(text);
  }
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
  // A poll on its way when the client goes ends with an error delivered through the event
  // loop, from the connection's thread; turning the loop a while longer lets that
  // coroutine finish instead of leaking.
  ~Shell() {
    delegate.reset();
    fixture.reset();
    spinUntil([] { return false; }, std::chrono::milliseconds(250));
  }
  [[nodiscard]] bool shown() const { return delegate->popover()->isShown(); }

  std::unique_ptr<testing::PopoverFixture> fixture = std::make_unique<testing::PopoverFixture>();
  QuitCoordinator quit{[]() -> QCoro::Task<> { co_return; }};
  RecordingTray* tray = nullptr;
  std::unique_ptr<AppDelegate> delegate;
};

// Each entry closes the popover and opens its window, twice: the About panel comes back
// as it was, the feedback form empty.
TEST(AppDelegate, ThePopoversEntriesOpenTheirWindows) {
  Shell shell(std::chrono::milliseconds(0));
  const auto click = [&shell](const char* name) {
    shell.tray->click();
    auto* entry = shell.delegate->popover()->rootItem()->findChild<QQuickItem*>(name);
    ASSERT_NE(entry, nullptr) << name;
    EXPECT_TRUE(entry->isVisible()) << name;
    QMetaObject::invokeMethod(entry, "clicked");
    EXPECT_FALSE(shell.shown()) << name;
  };
  QQuickItem* firstAbout = nullptr;
  for (int opening = 0; opening < 2; ++opening) {
    click("addPreset");
    PresetWindowController* presets = shell.delegate->presetWindow();
    ASSERT_NE(presets, nullptr);
    EXPECT_TRUE(presets->window().isVisible());
    EXPECT_NE(presets->content(), nullptr);
    presets->window().close();

    click("about");
    AboutWindowController* about = shell.delegate->aboutWindow();
    ASSERT_NE(about, nullptr);
    EXPECT_TRUE(about->window().isVisible());
    if (opening == 0) firstAbout = about->content();
    EXPECT_EQ(about->content(), firstAbout);
    about->window().close();

    click("feedback");
    FeedbackWindowController* feedback = shell.delegate->feedbackWindow();
    ASSERT_NE(feedback, nullptr);
    EXPECT_TRUE(feedback->window().isVisible());
    EXPECT_EQ(feedback->window().width(), FeedbackWindowController::kWidth);
    QQuickItem* form = feedback->content();
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(form->property("message").toString(), "");
    EXPECT_EQ(form->property("category").toString(), "bug");
    form->setProperty("message", "Left unsent");
    form->setProperty("category", "idea");
    QMetaObject::invokeMethod(form, "closeRequested");
    EXPECT_FALSE(feedback->window().isVisible());
  }
}

TEST(AppDelegate, LaunchShowsTheOnboardingWhenAskedOrNeverSeen) {
  struct Case {
    bool seenBefore;
    QStringList arguments;
    bool shown;
  };
  const std::vector<Case> cases{
      {.seenBefore = false, .arguments = {}, .shown = true},
      {.seenBefore = true, .arguments = {"--show-onboarding"}, .shown = true},
      {.seenBefore = true, .arguments = {}, .shown = false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments.join(' ').toStdString() + (c.seenBefore ? " seen" : " unseen"));
    Shell shell(std::chrono::milliseconds(0), c.seenBefore, c.arguments);
    OnboardingWindowController* onboarding = shell.delegate->onboardingWindow();
    EXPECT_EQ(onboarding != nullptr && onboarding->isVisible(), c.shown);
    EXPECT_TRUE(shell.fixture->defaults().value(defaults::hasSeenOnboarding));
    if (!c.shown) continue;
    EXPECT_EQ(onboarding->window().size(), OnboardingWindowController::kSize);
    EXPECT_EQ(onboarding->content()->property("page").toInt(), 0);
    // The tray leads back to the first-run window instead of opening the popover.
    shell.tray->click();
    EXPECT_FALSE(shell.shown());
    EXPECT_TRUE(onboarding->isVisible());
    onboarding->window().close();
    shell.tray->click();
    EXPECT_TRUE(shell.shown());
  }
}

TEST(AppDelegate, ClicksOnTheTrayToggleThePopoverButNotStraightAfterItClosed) {
  Shell shell(std::chrono::milliseconds(300));
  ASSERT_NE(shell.tray, nullptr);
  EXPECT_FALSE(shell.shown());
  shell.tray->click();
  EXPECT_TRUE(shell.shown());
  shell.tray->click();
  EXPECT_FALSE(shell.shown());
  // The click that made the popover lose its focus arrives just after it closed.
  shell.tray->click();
  EXPECT_FALSE(shell.shown());
  spinUntil([] { return false; }, std::chrono::milliseconds(400));
  shell.tray->click();
  EXPECT_TRUE(shell.shown());
}

TEST(AppDelegate, TheTrayShowsTheReadingAndStaysLiveWhileItShowsNumbers) {
  Shell shell(std::chrono::milliseconds(0));
  auto& viewModel = *shell.fixture->viewModel();
  ASSERT_TRUE(
      spinUntil([&] { return !shell.tray->texts.isEmpty() && viewModel.fans().size() == 2; }));
  // The icon only: one square picture at 1x and 2x, no text.
  EXPECT_EQ(shell.tray->sizes.back().second, shell.tray->sizes.back().first * 2);
  EXPECT_TRUE(viewModel.isRefreshing());

  shell.tray->click();
  shell.tray->click();
  EXPECT_FALSE(viewModel.isRefreshing()) << "nothing in the tray needs the fans polled";
  shell.fixture->defaults().setBool(QString::fromLatin1(defaults::showRPMInMenuBar.name), true);
  EXPECT_TRUE(viewModel.isRefreshing());
  ASSERT_TRUE(spinUntil([&] { return shell.tray->texts.back() == QStringLiteral("2200 RPM"); }));
  shell.fixture->defaults().setBool(QString::fromLatin1(defaults::showRPMInMenuBar.name), false);
  EXPECT_FALSE(viewModel.isRefreshing());
}

}  // namespace
}  // namespace zephro

// Fan curves: the level rules, what storage keeps, the fans through the real helper on an
// applesmc tree whose temperature the test sets, and what a wake puts back.
#include <gtest/gtest.h>

#include "app/presets/CurveStore.h"
#include "app/presets/FanCurveCodec.h"
#include "platform/defaults/DefaultsKeys.h"
#include "platform/log/Log.h"
#include "protocol/remote/InProcessHelperServer.h"
#include "tests/app/core/TaskRunner.h"
#include "tests/app/viewmodel/ViewModelFixture.h"
#include "tests/helper/HelperProcess.h"
#include "tests/platform/servicemanager/FakeServiceManager.h"
#include "tests/support/ScriptedHelper.h"

namespace zephro {
namespace {

using testing::FakeServiceManager;
using testing::ran;
using testing::spinUntil;

FanCurve warmCurve(const QString& name = QStringLiteral("Warm")) {
  return {QUuid::createUuid(), name, std::nullopt, defaultCurvePoints()};
}

// 45 °C → 0 %, 65 °C → 40 %, 85 °C → 100 %: 2 points a degree up to 65, then 3.
TEST(CurveFollower, RisesByTwoPointsAtOnceAndFallsOnlyThreeDegreesBelowWhereItRose) {
  CurveFollower follower(defaultCurvePoints());
  const struct {
    double celsius;
    std::optional<int> sent;
  } readings[] = {
      {30, 0},               // flat below the first point; the first reading always sets
      {46, 2},               // up by 2 points
      {46.4, std::nullopt},  // 2.8 rounds to 3: one point is not worth a change
      {55, 20},              // between two points, on the line
      {53, std::nullopt},    // down, but less than 3 °C below 55
      {52, 14},              // 3 °C below: down to where the curve is
      {75, 70},              // on the steeper part
      {200, 100},            // flat above the last point
      {87, std::nullopt},    // still at 100
      {80, 85},              // 3 °C below 200 long since
  };
  for (const auto& [celsius, sent] : readings) {
    EXPECT_EQ(follower.next(celsius), sent) << celsius;
  }
  follower.forget();
  EXPECT_EQ(follower.next(80), 85);
}

TEST(CurveStore, KeepsItsOwnKeyAndLeavesOutEachStoredCurveThatBreaksARule) {
  testing::TempDir dir;
  UserDefaults defaults(QString::fromStdString((dir / "settings.json").string()));
  const QByteArray presets = R"([{"id":"A","name":"kept as it is"}])";
  defaults.setData(QString::fromLatin1(defaults::fanPresets.name), presets);
  const FanCurve good{
      QUuid::createUuid(), QStringLiteral("Quiet"), QStringLiteral("leaf"), {{40, 0}, {70.5, 60}}};
  const auto id = good.idText().toStdString();
  const auto entry = [&](const std::string& name, const std::string& points) {
    return R"({"id":")" + id + R"(","name":")" + name + R"(","points":)" + points + "}";
  };
  const std::string two = R"([{"celsius":40,"percent":0},{"celsius":70,"percent":60}])";
  std::string nine = "[";
  for (int point = 0; point < 9; ++point) {
    nine += std::string(point > 0 ? "," : "") + R"({"celsius":)" + std::to_string(40 + point) +
            R"(,"percent":)" + std::to_string(point) + "}";
  }
  nine += "]";
  const struct {
    std::string entry;
    const char* why;
  } bad[] = {
      {entry("One", R"([{"celsius":40,"percent":0}])"), "a curve has 2 to 8 points, not 1"},
      {entry("Nine", nine), "a curve has 2 to 8 points, not 9"},
      {entry("Cooler", R"([{"celsius":50,"percent":0},{"celsius":50,"percent":60}])"),
       "point 2 is not warmer than the one before"},
      {entry("Slower", R"([{"celsius":40,"percent":50},{"celsius":60,"percent":40}])"),
       "point 2 is slower than the one before"},
      {entry("Over", R"([{"celsius":40,"percent":0},{"celsius":60,"percent":101}])"),
       "point 2 is not within 0 to 100 %"},
      {entry("Fraction", R"([{"celsius":40,"percent":0.5},{"celsius":60,"percent":1}])"),
       "a point's \"percent\" is not a whole number"},
      {entry("  ", two), "Name cannot be empty."},
      {entry(std::string(31, 'x'), two), "Name must be 30 characters or fewer."},
      {R"({"id":"not a uuid","name":"Id","points":[]})", "\"id\" is not a UUID"},
  };
  std::string stored = "[";
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < std::size(bad); ++i) {
    stored += bad[i].entry + ",";
    lines.push_back("[Zephro] Left out a stored fan curve: curve " + std::to_string(i + 1) + ": " +
                    bad[i].why);
  }
  stored += encodeCurves({good}).mid(1).toStdString();
  defaults.setData(QString::fromLatin1(defaults::fanCurves.name),
                   QByteArray::fromStdString(stored));

  const log::Capture capture;
  CurveStore store(defaults);
  EXPECT_EQ(store.curves(), QList<FanCurve>{good});
  EXPECT_EQ(capture.lines(), lines);

  const FanCurve added = warmCurve();
  store.add(added);
  store.add({QUuid::createUuid(), QStringLiteral("Flat"), std::nullopt, {{40, 10}}});
  EXPECT_EQ(CurveStore::loadStoredCurves(defaults), (QList<FanCurve>{good, added}));
  EXPECT_EQ(defaults.data(QString::fromLatin1(defaults::fanPresets.name)), presets);
}

// A mock helper: the firmware taking the fans back is what no emulated machine does.
TEST(FanControlViewModel, AfterAWakeFansReleasedBehindZephroAreForcedAgainWithALine) {
  testing::ViewModelOnSocket vm(std::make_shared<FakeServiceManager>());
  testing::ScriptedHelper helper;
  helper.fans = {FanInfoDTO(0, 2000, 1200, 6000, FanMode::system)};
  helper.followModeChanges = true;
  InProcessHelperServer server(vm.socket, helper);
  auto& model = *vm.viewModel;
  ASSERT_TRUE(ran(model.setMaxMode()));

  const log::Capture capture;
  helper.update([](auto& h) { h.fans = {FanInfoDTO(0, 2000, 1200, 6000, FanMode::system)}; });
  emit vm.wake->didWake();
  ASSERT_TRUE(spinUntil([&] { return helper.recordedSetModeCalls().size() == 2; }));
  ASSERT_TRUE(spinUntil([&] { return model.activeMode() == FanMode::max; }));
  EXPECT_EQ(helper.recordedSetModeCalls().back(), (testing::ScriptedHelper::SetModeCall{2, {100}}));
  EXPECT_EQ(capture.lines(), std::vector<std::string>{
                                 "[Zephro] Fans were released during sleep; applying max again."});

  // Still forced after the next wake: nothing to put back. The wake's poll brings a new
  // temperature, and the wake's check ends in the same turn that applies it.
  helper.update([](auto& h) { h.celsius = 51; });
  emit vm.wake->didWake();
  ASSERT_TRUE(spinUntil([&] { return model.systemTemperature() == 51; }));
  EXPECT_FALSE(model.isApplyingChange());
  EXPECT_EQ(helper.recordedSetModeCalls().size(), 2U);
}

TEST(FanCurveOnTheRealHelper, OutputsFollowTheTemperatureHoldInTheBandAndReturnWhenUnreadable) {
  testing::TempDir dir;
  const auto root = std::filesystem::canonical(dir.path()) / "sys";
  const testing::FakeSysfs fake(testing::SysfsLayout::mainlineApplesmc, root,
                                {{1200, 6000, 2000}, {1200, 6000, 2000}}, {{"TC0P", 50000}});
  testing::HelperProcess helper(dir.path(), "auto:" + root.string());
  ASSERT_TRUE(helper.start()) << testing::contentOf(helper.logFile());
  testing::ViewModelOnSocket vm(std::make_shared<FakeServiceManager>(), helper.socket());
  auto& model = *vm.viewModel;
  const FanCurve curve = warmCurve();
  model.curveStore().add(curve);
  const auto setTemperature = [&](const std::string& text) { fake.set("temp1_input", text); };
  // The step that has seen the temperature is over, and so is any change it sent.
  const auto stepped = [&](double celsius) {
    return spinUntil([&] { return model.systemTemperature() == celsius; }) &&
           spinUntil([&] { return !model.isApplyingChange(); });
  };
  using Outputs = std::vector<std::string>;

  const log::Capture capture;
  ASSERT_TRUE(ran(model.applyCurve(curve)));
  EXPECT_EQ(model.curveStore().activeCurveIDText(), curve.idText());
  EXPECT_EQ(fake.values("output"), (Outputs{"1680", "1680"}));  // 50 °C: 10 % of 1200 to 6000
  EXPECT_EQ(fake.values("force"), (Outputs{"1", "1"}));

  setTemperature("60000");
  ASSERT_TRUE(spinUntil([&] { return fake.values("output") == Outputs{"2640", "2640"}; }));
  setTemperature("58000");
  ASSERT_TRUE(stepped(58));
  EXPECT_EQ(fake.values("output"), (Outputs{"2640", "2640"}));
  setTemperature("57000");
  ASSERT_TRUE(spinUntil([&] { return fake.values("output") == Outputs{"2352", "2352"}; }));

  // Unreadable, then out of range: each hands the fans back once; a good reading resumes.
  using Mode = FanMode;
  const struct {
    const char* written;
    Outputs force;
    Mode mode;
    Outputs output;
  } readings[] = {
      {"not a number", {"0", "0"}, Mode::system, {"2352", "2352"}},
      {"70000", {"1", "1"}, Mode::manual, {"3840", "3840"}},  // 55 %
      {"125000", {"0", "0"}, Mode::system, {"3840", "3840"}},
      {"66000", {"1", "1"}, Mode::manual, {"3264", "3264"}},  // 43 %
  };
  for (const auto& [written, force, mode, output] : readings) {
    setTemperature(written);
    ASSERT_TRUE(spinUntil([&] {
      return fake.values("force") == force && fake.values("output") == output &&
             model.activeMode() == mode;
    })) << written;
    EXPECT_EQ(model.curveStore().activeCurveIDText(), curve.idText()) << written;
  }
  const auto paused = capture.linesStartingWith("[Zephro] Fan curve paused");
  EXPECT_EQ(paused, (std::vector<std::string>{
                        "[Zephro] Fan curve paused, the temperature cannot be followed (Failed to "
                        "read TC0P); the fans are back under system control.",
                        "[Zephro] Fan curve paused, the temperature cannot be followed (125 °C is "
                        "outside 1 to 120 °C); the fans are back under system control."}));

  // Any other choice ends the curve.
  ASSERT_TRUE(ran(model.setSystemMode()));
  EXPECT_EQ(model.curveStore().activeCurveIDText(), QString());
  // So does deleting the curve the fans follow, which hands them back.
  ASSERT_TRUE(ran(model.applyCurve(curve)));
  EXPECT_EQ(fake.values("force"), (Outputs{"1", "1"}));
  model.curveStore().deleteCurve(curve.id);
  ASSERT_TRUE(spinUntil([&] { return fake.values("force") == Outputs{"0", "0"}; }));
  EXPECT_TRUE(capture.contains(
      "[Zephro] The fan curve in force was deleted; the fans go back to the system."));
  // The ended loop finishes on the event loop, which a last poll turns.
  ASSERT_TRUE(spinUntil([&] { return !model.isApplyingChange(); }));
  ASSERT_TRUE(ran(model.refresh()));
  EXPECT_EQ(fake.ruleBreaches(), Outputs{});
}

}  // namespace
}  // namespace zephro

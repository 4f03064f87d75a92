// The real com.zephro.helper driving fake applesmc and macsmc-hwmon folders through the
// real client: what a Mac running Linux would see written, and what its users would read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/helper/HelperProcess.h"
#include "tests/platform/smc/FakeSysfs.h"
#include "tests/support/TempDir.h"

namespace zephro::testing {
namespace {

using Driver = FakeSysfsDevice::Driver;

constexpr const char* kBackend = "[ZephroHelper] SMC backend: ";
constexpr const char* kCannotOpen =
    "error Error Domain=SMCErrorDomain Code=1 \"Could not open connection to AppleSMC.\" "
    "UserInfo={NSLocalizedDescription=Could not open connection to AppleSMC.}";

struct IntelMac {
  const char* name;
  std::vector<FakeFan> fans;
  // In the driver's order, which sorts the keys.
  std::vector<FakeSensor> sensors;
  // Found by --smc auto under a sysfs tree, or named with applesmc:DIR.
  bool found;
  const char* percentages;
  Lines outputsAtHalf;
  const char* temperature;
  const char* driven;  // the helper's fan table once the firmware has followed
};

// Tp01 reads below what the helper believes and Tp0T comes before TC0P in its order,
// though after it in the driver's.
const std::vector<IntelMac> kIntelMacs{
    {"two-fan MacBook Pro",
     {{2000, 6000, 2100}, {1800, 5600, 1900}},
     {{"TA0P", 30000}, {"TC0P", 58250}, {"Tp01", 5000}, {"Tp0T", 47750}},
     false,
     "50,50",
     {"4000", "3700"},
     "temperature 47.75",
     "[ZephroHelper] getFanInfo: fan0: 4000.0RPM min=2000.0 max=6000.0, "
     "fan1: 3700.0RPM min=1800.0 max=5600.0"},
    {"one-fan MacBook Air",
     {{1200, 6500, 1250}},
     {{"TB0T", 33000}, {"TC0P", 44500}},
     true,
     "50",
     {"3850"},
     "temperature 44.5",
     "[ZephroHelper] getFanInfo: fan0: 3850.0RPM min=1200.0 max=6500.0"},
};

std::string repeated(const std::string& text, std::size_t count) {
  std::string list;
  for (std::size_t i = 0; i < count; ++i) list += (i > 0 ? "," : "") + text;
  return list;
}

TEST(SysfsHelperDaemon, DrivesIntelMacsThroughApplesmcAndHandsTheFansBack) {
  for (const auto& mac : kIntelMacs) {
    SCOPED_TRACE(mac.name);
    TempDir dir;
    const auto root = std::filesystem::canonical(dir.path()) / "sys";
    const FakeSysfsDevice device(root / "devices/platform/applesmc.768", Driver::applesmc, mac.fans,
                                 mac.sensors);
    const std::string smcOption =
        mac.found ? "auto:" + root.string() : "applesmc:" + device.directory().string();
    HelperProcess helper(dir.path(), smcOption);
    ASSERT_TRUE(helper.start()) << contentOf(dir / "helper.log");
    EXPECT_EQ(helper.waitForLog(kBackend),
              Lines{kBackend + ("applesmc at " + device.directory().string())});

    // The client stays, so the fans stay forced: the helper hands back those of a client
    // that leaves.
    const auto fans = mac.fans.size();
    Lines held;
    const pid_t holder =
        helper.holdingClient({"fans", "temperature", "mode", "1", mac.percentages, "fans"}, held);
    EXPECT_EQ(held, (Lines{"fans " + repeated("system", fans), mac.temperature, "ok",
                           "fans " + repeated("manual", fans), "holding"}));
    EXPECT_EQ(device.fanValues("manual"), Lines(fans, "1"));
    EXPECT_EQ(device.fanValues("output"), mac.outputsAtHalf);

    device.tick();
    EXPECT_EQ(helper.client({"fans"}), Lines{"fans " + repeated("manual", fans)});
    EXPECT_EQ(helper.logStartingWith("[ZephroHelper] getFanInfo").back(), mac.driven);

    EXPECT_EQ(helper.client({"mode", "0", "none", "fans"}),
              (Lines{"ok", "fans " + repeated("system", fans)}));
    EXPECT_EQ(device.fanValues("manual"), Lines(fans, "0"));
    HelperProcess::stop(holder);
  }
}

TEST(SysfsHelperDaemon, AFailingAttributeWriteAnswersItsErrno) {
  TempDir dir;
  const auto& mac = kIntelMacs[0];
  const FakeSysfsDevice device(dir / "applesmc", Driver::applesmc, mac.fans, mac.sensors);
  device.makeUnwritable("fan1_output");
  HelperProcess helper(dir.path(), "applesmc:" + device.directory().string());
  ASSERT_TRUE(helper.start()) << contentOf(dir / "helper.log");

  // EISDIR (21) in the errno status: 0xE00E8015.
  const std::string failure =
      "Error Domain=SMCErrorDomain Code=-535920619 \"Failed to write F0Tg (fpe2 fallback, read "
      "failed)\" UserInfo={NSLocalizedDescription=Failed to write F0Tg (fpe2 fallback, read "
      "failed)}";
  EXPECT_EQ(helper.client({"mode", "1", "50,50"}), Lines{"error " + failure});
  EXPECT_EQ(helper.logStartingWith("[SMCWrapperObjC] writeFloatKey"),
            Lines(2,
                  "[SMCWrapperObjC] writeFloatKey: Cannot read key 'F0Tg' to detect format "
                  "(result: -535920619). Attempting fpe2 fallback."));
  EXPECT_EQ(helper.logStartingWith("[ZephroHelper] setFanMode ERROR"),
            Lines{"[ZephroHelper] setFanMode ERROR: " + failure});

  // The fan forced before its target failed goes back once the client has left; the
  // helper says so with the lock held, so the next request comes after the release.
  EXPECT_EQ(helper.waitForLog("[ZephroHelper] Client pid").size(), 1U);
  EXPECT_EQ(helper.client({"fans"}), Lines{"fans system,system"});
  EXPECT_EQ(device.fanValues("manual"), (Lines{"0", "0"}));
  EXPECT_EQ(device.get("fan2_output"), "1900\n") << "the request stopped at the first fan";
}

TEST(SysfsHelperDaemon, AppleSiliconFansAreShownButNeverDriven) {
  TempDir dir;
  const FakeSysfsDevice device(dir / "hwmon3", Driver::macsmc, {{1000, 4900, 1750}},
                               {{"Tp0T", 41500}});
  HelperProcess helper(dir.path(), "macsmc:" + device.directory().string());
  ASSERT_TRUE(helper.start()) << contentOf(dir / "helper.log");
  EXPECT_EQ(helper.waitForLog(kBackend),
            Lines{kBackend + ("macsmc-hwmon at " + device.directory().string())});

  const std::string refused =
      "error Error Domain=SMCErrorDomain Code=-536870207 \"Failed to write F0Tg\" "
      "UserInfo={NSLocalizedDescription=Failed to write F0Tg}";
  EXPECT_EQ(helper.client({"fans", "temperature", "mode", "2", "none", "fans"}),
            (Lines{"fans system", "temperature 41.5", refused, "fans system"}));
  EXPECT_EQ(helper.logStartingWith("[ZephroHelper] getFanInfo").front(),
            "[ZephroHelper] getFanInfo: fan0: 1750.0RPM min=1000.0 max=4900.0");
  EXPECT_EQ(device.get("fan1_target"), "1750\n");
}

TEST(SysfsHelperDaemon, AutoWithoutAnAppleSmcAnswersThatTheSmcCannotBeOpened) {
  TempDir dir;
  const auto root = std::filesystem::canonical(dir.path()) / "sys";
  putFile(root / "devices/virtual/thermal/thermal_zone0/hwmon0/name", "acpitz\n");
  std::filesystem::create_directories(root / "class/hwmon");
  std::filesystem::create_directory_symlink("../../devices/virtual/thermal/thermal_zone0/hwmon0",
                                            root / "class/hwmon/hwmon0");
  HelperProcess helper(dir.path(), "auto:" + root.string());
  ASSERT_TRUE(helper.start()) << contentOf(dir / "helper.log");
  const auto reason = "no applesmc or macsmc-hwmon device under " + root.string();
  EXPECT_EQ(helper.waitForLog(kBackend), Lines{kBackend + reason});

  EXPECT_EQ(helper.client({"fans", "temperature", "mode", "2", "none"}), Lines(3, kCannotOpen));
  EXPECT_EQ(helper.logStartingWith("[ZephroHelper] AppleSMC unavailable"),
            Lines(3, "[ZephroHelper] AppleSMC unavailable: " + reason));
}

}  // namespace
}  // namespace zephro::testing

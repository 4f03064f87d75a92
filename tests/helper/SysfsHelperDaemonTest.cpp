// The real com.zephro.helper over Apple SMC driver layouts the kernel has, through the real
// client: what each Mac would see written, and what its users would read.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>

#include "platform/error/Error.h"
#include "tests/helper/HelperProcess.h"

namespace zephro::testing {
namespace {

constexpr const char* kBackend = "[ZephroHelper] SMC backend: ";

std::string smcError(long code, const std::string& description,
                     const std::string& domain = "SMCErrorDomain") {
  return "error " + Error::withDescription(domain, code, description).fullDescription();
}

// Run by root, the helper and its client run as nobody, the owner of the tree, so that
// read-only attributes refuse writes as the kernel's do.
std::optional<std::pair<uid_t, gid_t>> treeOwner(const std::filesystem::path& dir,
                                                 const FakeSysfs& fake) {
  if (::geteuid() != 0) return std::nullopt;
  fake.giveTo(65534, 65534);
  (void)::chown(dir.c_str(), 65534, 65534);
  return std::pair<uid_t, gid_t>{65534, 65534};
}

// Where the driver cannot force the fans, a change is refused and no attribute written; the
// layouts that can are driven in TheUnitLetsTheHelperWriteWhereEachDriverKeepsItsFans.
TEST(SysfsHelperDaemon, DrivesEveryDriverLayoutAndRefusesWhatItsDriverRefuses) {
  // The NAND flash sensor is the one every Apple silicon device tree has.
  const std::vector<FakeSensor> sensors{{"Battery Hotspot", 30500},
                                        {"NAND Flash Temperature", 41500}};
  const struct {
    SysfsLayout layout;
    std::vector<FakeFan> fans;
    const char* capabilities;
    std::string fanTable;
    std::string refusal;
  } macs[] = {{SysfsLayout::macsmcReadOnly,
               {{1000, 4900, 1750}},
               "1 fan, read-only",
               "fans system",
               smcError(-536870207, "Failed to take fan 0 over from the firmware")},
              {SysfsLayout::macsmcFanless,
               {},
               "no fans",
               smcError(0, "fanCount is 0", "HelperError"),
               smcError(0, "fanCount is 0", "HelperError")}};
  for (const auto& mac : macs) {
    SCOPED_TRACE(mac.capabilities);
    TempDir dir;
    const auto root = std::filesystem::canonical(dir.path()) / "sys";
    const FakeSysfs fake(mac.layout, root, mac.fans, sensors);
    HelperProcess helper(dir.path(), "auto:" + root.string(), treeOwner(dir.path(), fake));
    ASSERT_TRUE(helper.start()) << contentOf(dir / "helper.log");
    EXPECT_EQ(helper.waitForLog(kBackend), Lines{kBackend + fake.driver() + " at " +
                                                 fake.folder().string() + ": " + mac.capabilities});
    const auto targets = fake.values("target");
    EXPECT_EQ(helper.client({"fans", "temperature", "mode", "1", "50", "mode", "0", "none"}),
              (Lines{mac.fanTable, "temperature 41.5", mac.refusal, "ok"}));
    EXPECT_EQ(fake.values("target"), targets);
    EXPECT_EQ(fake.ruleBreaches(), Lines{});
  }
}

// What the unit makes writable again under ProtectKernelTunables, as its file says.
std::vector<std::filesystem::path> unitReadWritePaths() {
  std::istringstream unit(contentOf(sourcePath("app/resources/systemd/com.zephro.helper.service")));
  std::vector<std::filesystem::path> paths;
  for (std::string line; std::getline(unit, line);) {
    if (!line.starts_with("ReadWritePaths=")) continue;
    std::istringstream entries(line.substr(15));
    for (std::string entry; entries >> entry;) paths.emplace_back(entry.substr(entry[0] == '-'));
  }
  return paths;
}

// Runs in a child of its own mount namespace: the layout in a tmpfs at /sys, all of /sys
// read-only as ProtectKernelTunables makes it, the unit's ReadWritePaths writable again,
// and the helper, as root and with the unit's --smc auto, asked to force the fans.
// Exits 0 when every fan's force and target attributes were written and handed back.
[[noreturn]] void forceUnderTheUnitsView(SysfsLayout layout, const std::filesystem::path& dir) {
  const auto fail = [&](const std::string& why) {
    putFile(dir / "why", why);
    ::_exit(1);
  };
  if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) ||
      ::mount("tmpfs", "/sys", "tmpfs", 0, "mode=0755") != 0) {
    fail("no mount namespace");
  }
  const FakeSysfs fake(layout, "/sys", {{2000, 6000, 2100}, {1800, 5600, 1900}}, {});
  if (::mount("/sys", "/sys", nullptr, MS_BIND | MS_REC, nullptr) != 0 ||
      ::mount(nullptr, "/sys", nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
    fail("cannot make /sys read-only");
  }
  for (const auto& path : unitReadWritePaths()) {
    if (!std::filesystem::exists(path)) continue;
    if (::mount(path.c_str(), path.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
        ::mount(nullptr, path.c_str(), nullptr, MS_REMOUNT | MS_BIND, nullptr) != 0) {
      fail("cannot make " + path.string() + " writable");
    }
  }
  std::string why;
  {
    HelperProcess helper(dir, "auto");
    if (!helper.start()) {
      why = "the helper did not start";
    } else {
      // A client that stays keeps the fans forced while they are looked at.
      Lines answer;
      const pid_t holder = helper.holdingClient({"mode", "1", "50,50"}, answer);
      const bool forced =
          layout == SysfsLayout::macsmcFanControl || fake.values("force") == Lines{"1", "1"};
      if (answer != Lines{"ok", "holding"} || !forced ||
          fake.values("target") != Lines{"4000", "3700"}) {
        why = "the helper could not force the fans: " + (answer.empty() ? "" : answer[0]);
      }
      endProcess(holder);
      // Handing back writes each driver's own "automatic": pwmN_enable takes 2, the rest 0.
      const std::string automatic = layout == SysfsLayout::convertedApplesmc ? "2" : "0";
      if (why.empty() && (helper.client({"mode", "0", "none"}) != Lines{"ok"} ||
                          fake.values("force") != Lines(2, automatic))) {
        why = "the helper did not hand the fans back: " + fake.values("force")[0];
      }
    }
  }
  if (!why.empty()) fail(why + "\n" + contentOf(dir / "helper.log"));
  ::_exit(0);
}

TEST(SysfsHelperDaemon, TheUnitLetsTheHelperWriteWhereEachDriverKeepsItsFans) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root for a mount namespace";
  for (const auto layout : {SysfsLayout::mainlineApplesmc, SysfsLayout::t2Applesmc,
                            SysfsLayout::convertedApplesmc, SysfsLayout::macsmcFanControl}) {
    SCOPED_TRACE(static_cast<int>(layout));
    TempDir dir;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) forceUnderTheUnitsView(layout, dir.path());
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << contentOf(dir / "why");
  }
}

TEST(SysfsHelperDaemon, AutoWithoutAnAppleSmcAnswersThatTheSmcCannotBeOpened) {
  TempDir dir;
  const auto root = std::filesystem::canonical(dir.path());
  HelperProcess helper(dir.path(), "auto:" + root.string());
  ASSERT_TRUE(helper.start()) << contentOf(dir / "helper.log");
  const auto reason = "no applesmc or macsmc-hwmon device under " + root.string();
  EXPECT_EQ(helper.waitForLog(kBackend), Lines{kBackend + reason});
  EXPECT_EQ(helper.client({"fans", "temperature", "mode", "2", "none"}),
            Lines(3, smcError(1, "Could not open connection to AppleSMC.")));
  EXPECT_EQ(helper.logStartingWith("[ZephroHelper] AppleSMC unavailable"),
            Lines(3, "[ZephroHelper] AppleSMC unavailable: " + reason));
}

}  // namespace
}  // namespace zephro::testing

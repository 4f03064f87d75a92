#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>

#include "tests/platform/smc/FakeSysfs.h"
#include "tests/platform/smc/SmcCalls.h"
#include "tests/support/TempDir.h"

namespace zephro::smc {
namespace {

using namespace testing;
using zephro::testing::FakeSysfs;
using zephro::testing::readFile;
using zephro::testing::SysfsLayout;
using zephro::testing::TempDir;

// Two fans and applesmc's temperature keys in the mainline driver's (sorted) order.
FakeSysfs twoFanMac(const std::filesystem::path& root) {
  return {SysfsLayout::mainlineApplesmc,
          root,
          {{2160, 6156, 2158}, {2000, 5700, 1998}},
          {{"TA0P", 28000}, {"TC0P", 55500}, {"Tp0T", 47750}, {"X", 90000}}};
}

SysfsUserClient opened(const std::filesystem::path& directory) {
  SysfsUserClient client({SysfsDriver::applesmc, directory});
  EXPECT_EQ(client.open(), SysfsUserClient::kConnectionHandle);
  return client;
}

TEST(SysfsSmc, AnswersTheHelpersKeysFromApplesmcAttributesAndNothingElse) {
  TempDir dir;
  const auto mac = twoFanMac(dir.path());
  auto smc = opened(mac.folder());
  struct Case {
    const char* key;
    std::uint32_t type;
    std::uint8_t attributes;
    double value;
  };
  for (const auto& c : std::initializer_list<Case>{{"F0Ac", kTypeFpe2, 0x80, 2158},
                                                   {"F0Mn", kTypeFpe2, 0x80, 2160},
                                                   {"F1Mx", kTypeFpe2, 0x80, 5700},
                                                   {"F1Tg", kTypeFpe2, 0xC0, 1998},
                                                   {"TC0P", kTypeSp78, 0x80, 55.5},
                                                   {"Tp0T", kTypeSp78, 0x80, 47.75}}) {
    const auto [status, block] = info(smc, c.key);
    const auto value = read(smc, c.key);
    EXPECT_EQ(std::tuple(status, block.keyInfo.dataType, block.keyInfo.dataSize,
                         block.keyInfo.dataAttributes, value.status, decoded(value)),
              std::tuple(kIOReturnSuccess, c.type, 2U, c.attributes, kIOReturnSuccess, c.value))
        << c.key;
  }
  EXPECT_EQ(read(smc, "FNum").block.bytes[0], 2);

  // No third fan, no mode or unlock keys, no sensor whose label is not a key.
  for (const char* key : {"F2Ac", "F0Md", "F0md", "Ftst", "X\0\0\0", "TC0D", "Fxyz"}) {
    EXPECT_EQ(info(smc, key).status, kIOReturnNotFound) << key;
  }
  EXPECT_EQ(write(smc, "F0Mn", fpe2(3000)), kIOReturnNotPrivileged);
  EXPECT_EQ(mac.get("fan1_min"), "2160\n");
  EXPECT_EQ(send(smc, kCommandReadValue, "F0Ac", 4).status, kIOReturnBadArgument);
  EXPECT_EQ(send(smc, kCommandWriteValue, "F0Tg", 1).status, kIOReturnBadArgument);
  EXPECT_EQ(send(smc, 7, "F0Ac", 2).status, kIOReturnBadArgument);

  // Whole RPM, as the driver takes them.
  EXPECT_EQ(write(smc, "F1Tg", fpe2(3850.75)), kIOReturnSuccess);
  EXPECT_EQ(mac.get("fan2_output"), "3850\n");

  // Bits beyond the machine's fans are ignored, and only changed bits are written.
  EXPECT_EQ(write(smc, "FS! ", be16(0xFFFD)), kIOReturnSuccess);
  EXPECT_EQ(mac.values("manual"), (std::vector<std::string>{"1", "0"}));
  // Releasing tries every fan and answers the first failure.
  mac.set("fan2_manual", "1");
  std::filesystem::remove(mac.folder() / "fan1_manual");
  std::filesystem::create_directory(mac.folder() / "fan1_manual");
  EXPECT_EQ(read(smc, "FS! ").status, errnoStatus(EISDIR));
  EXPECT_EQ(write(smc, "FS! ", be16(0)), errnoStatus(EISDIR));
  EXPECT_EQ(mac.get("fan2_manual"), "0\n");
}

// Planted entries: a link out, a FIFO that blocks its opener, a file longer than any attribute.
TEST(SysfsSmc, EntriesThatAreNotAttributesAreRefusedWithoutWaitingOrFollowing) {
  TempDir dir;
  const auto mac = twoFanMac(dir.path());
  const auto device = mac.folder();
  zephro::testing::putFile(dir / "outside", "5000\n");
  std::filesystem::remove(device / "fan1_output");
  std::filesystem::create_symlink(dir / "outside", device / "fan1_output");
  std::filesystem::remove(device / "fan2_input");
  ASSERT_EQ(::mkfifo((device / "fan2_input").c_str(), 0600), 0);
  mac.set("temp2_input", std::string(SysfsDirectory::kMaxAttributeSize, '5'));
  auto smc = opened(device);

  EXPECT_EQ(read(smc, "F0Tg").status, errnoStatus(ELOOP));
  // A link is no attribute the driver takes writes to.
  EXPECT_EQ(write(smc, "F0Tg", fpe2(3000)), kIOReturnNotPrivileged);
  EXPECT_EQ(readFile(dir / "outside"), "5000\n");
  EXPECT_EQ(read(smc, "F1Ac").status, errnoStatus(EINVAL));
  EXPECT_EQ(read(smc, "TC0P").status, errnoStatus(EFBIG));
  EXPECT_EQ(read(smc, "Tp0T").status, kIOReturnSuccess);
}

TEST(SysfsUserClient, DrivesOnlyTheFolderItOpenedAtStartUp) {
  TempDir dir;
  const auto mac = twoFanMac(dir / "sys");
  auto smc = opened(mac.folder());
  std::filesystem::rename(dir / "sys", dir / "moved");
  const FakeSysfs impostor(SysfsLayout::mainlineApplesmc, dir / "sys", {{1, 2, 3}}, {});
  EXPECT_EQ(decoded(read(smc, "F0Ac")), 2158.0);
  EXPECT_EQ(write(smc, "F0Tg", fpe2(3000)), kIOReturnSuccess);
  EXPECT_EQ(readFile(dir / "moved/devices/platform/applesmc.768/fan1_output"), "3000\n");
  EXPECT_EQ(impostor.get("fan1_output"), "3\n");
}

// The helper's tests cover the other layouts; here the T2 ACPI device behind another hwmon one.
TEST(SysfsDevice, AutoFindsEachDriverByWhatItsFoldersHold) {
  struct Case {
    SysfsLayout layout;
    std::size_t fans;
    const char* capabilities;
  };
  for (const auto& c : std::initializer_list<Case>{
           {SysfsLayout::mainlineApplesmc, 2, "2 fans, forced through fanN_manual"},
           {SysfsLayout::t2Applesmc, 2, "2 fans, forced through fanN_manual"},
           {SysfsLayout::convertedApplesmc, 1, "1 fan, forced through pwmN_enable"},
           {SysfsLayout::macsmcReadOnly, 1, "1 fan, read-only"},
           {SysfsLayout::macsmcFanControl, 2, "2 fans, forced through fanN_target"},
           {SysfsLayout::macsmcFanless, 0, "no fans"}}) {
    TempDir dir;
    const auto root = std::filesystem::canonical(dir.path());
    // Another driver's hwmon device comes first, as acpitz or coretemp would.
    zephro::testing::putFile(root / "devices/virtual/thermal/hwmon0/name", "acpitz\n");
    std::filesystem::create_directories(root / "class/hwmon");
    std::filesystem::create_directory_symlink("../../devices/virtual/thermal/hwmon0",
                                              root / "class/hwmon/hwmon0");
    const FakeSysfs fake(c.layout, root,
                         std::vector<zephro::testing::FakeFan>(c.fans, {1200, 6000, 1800}),
                         {{"TC0P", 40000}});
    SCOPED_TRACE(fake.folder().string());
    EXPECT_EQ(makeUserClient("auto:" + root.string())->description(),
              fake.driver() + " at " + fake.folder().string() + ": " + c.capabilities);
  }
  TempDir empty;
  EXPECT_EQ(makeUserClient("auto:" + empty.path().string())->description(),
            "no applesmc or macsmc-hwmon device under " + empty.path().string());
}

}  // namespace
}  // namespace zephro::smc

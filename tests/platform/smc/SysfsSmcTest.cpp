#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <string>

#include "platform/smc/FourCharCode.h"
#include "platform/smc/SysfsUserClient.h"
#include "platform/smc/ValueCodec.h"
#include "tests/platform/smc/FakeSysfs.h"
#include "tests/support/TempDir.h"

namespace zephro::smc {
namespace {

using testing::FakeSysfsDevice;
using testing::TempDir;
using Driver = FakeSysfsDevice::Driver;

struct Reply {
  KernReturn status;
  SMCParamBlock block;
};

// A MacBook Pro with two fans and the applesmc temperature keys in the driver's (sorted)
// order.
FakeSysfsDevice twoFanMac(const std::filesystem::path& directory) {
  return {directory,
          Driver::applesmc,
          {{2160, 6156, 2158}, {2000, 5700, 1998}},
          {{"TA0P", 28000}, {"TC0P", 55500}, {"Tp0T", 47750}, {"X", 90000}}};
}

class Smc {
 public:
  explicit Smc(const std::filesystem::path& directory)
      : client_({SysfsDriver::applesmc, directory}) {
    EXPECT_EQ(client_.open(), SysfsUserClient::kConnectionHandle);
  }

  Reply send(std::uint8_t command, std::string_view key, std::uint32_t size = 0,
             std::array<std::uint8_t, 4> bytes = {}) {
    SMCParamBlock input{};
    input.key = packFourCharCode(key);
    input.data8 = command;
    input.keyInfo.dataSize = size;
    std::copy(bytes.begin(), bytes.end(), input.bytes.begin());
    std::array<std::byte, kParamBlockSize> in{};
    std::array<std::byte, kParamBlockSize> out{};
    std::memcpy(in.data(), &input, in.size());
    const auto status = client_.callStructMethod(SysfsUserClient::kConnectionHandle,
                                                 kSelectorHandleParamBlock, in, out);
    Reply reply{status, {}};
    std::memcpy(&reply.block, out.data(), out.size());
    return reply;
  }

  Reply info(std::string_view key) { return send(kCommandReadKeyInfo, key); }
  // As the helper reads: the key's information first, then its value in that size.
  Reply read(std::string_view key) {
    const auto keyInfo = info(key).block.keyInfo;
    auto reply = send(kCommandReadValue, key, keyInfo.dataSize);
    reply.block.keyInfo.dataType = keyInfo.dataType;
    return reply;
  }
  KernReturn write(std::string_view key, std::array<std::uint8_t, 4> bytes) {
    return send(kCommandWriteValue, key, info(key).block.keyInfo.dataSize, bytes).status;
  }

  SysfsUserClient& client() { return client_; }

 private:
  SysfsUserClient client_;
};

std::array<std::uint8_t, 4> bigEndian16(std::uint16_t value) {
  std::array<std::uint8_t, 4> bytes{};
  storeBigEndian16(value, bytes);
  return bytes;
}

double decoded(const Reply& reply) {
  const auto type = reply.block.keyInfo.dataType;
  if (type == kTypeFlt) return decodeFlt(reply.block.bytes);
  if (type == kTypeSp78) return decodeSp78(reply.block.bytes);
  return decodeFpe2(reply.block.bytes);
}

TEST(SysfsSmc, AnswersTheHelpersKeysFromApplesmcAttributesAndNothingElse) {
  TempDir dir;
  const auto mac = twoFanMac(dir.path());
  Smc smc(dir.path());
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
    SCOPED_TRACE(c.key);
    const auto info = smc.info(c.key);
    ASSERT_EQ(info.status, kIOReturnSuccess);
    EXPECT_EQ(info.block.keyInfo.dataType, c.type);
    EXPECT_EQ(info.block.keyInfo.dataSize, 2U);
    EXPECT_EQ(info.block.keyInfo.dataAttributes, c.attributes);
    const auto read = smc.read(c.key);
    EXPECT_EQ(read.status, kIOReturnSuccess);
    EXPECT_EQ(decoded(read), c.value);
  }
  EXPECT_EQ(smc.info("FNum").block.keyInfo.dataType, kTypeUi8);
  EXPECT_EQ(smc.read("FNum").block.bytes[0], 2);
  EXPECT_EQ(smc.info("FS! ").block.keyInfo.dataType, kTypeUi16);

  // No third fan, no mode or unlock keys, no sensor whose label is not a key.
  for (const char* key : {"F2Ac", "F0Md", "F0md", "Ftst", "X\0\0\0", "TC0D", "Fxyz"}) {
    EXPECT_EQ(smc.info(key).status, kIOReturnNotFound) << key;
  }
  EXPECT_EQ(smc.write("F0Mn", bigEndian16(encodeFpe2(3000))), kIOReturnNotPrivileged);
  EXPECT_EQ(smc.write("FNum", {9}), kIOReturnNotPrivileged);
  EXPECT_EQ(mac.get("fan1_min"), "2160\n");
  EXPECT_EQ(smc.send(kCommandReadValue, "F0Ac", 4).status, kIOReturnBadArgument);
  EXPECT_EQ(smc.send(kCommandWriteValue, "F0Tg", 1).status, kIOReturnBadArgument);
  EXPECT_EQ(smc.send(7, "F0Ac", 2).status, kIOReturnBadArgument);

  // Whole RPM, as the driver takes them; the actual speed stays the firmware's.
  EXPECT_EQ(smc.write("F1Tg", bigEndian16(encodeFpe2(3850.75))), kIOReturnSuccess);
  EXPECT_EQ(mac.get("fan2_output"), "3850\n");
  EXPECT_EQ(decoded(smc.read("F1Tg")), 3850.0);
  EXPECT_EQ(decoded(smc.read("F1Ac")), 1998.0);
}

TEST(SysfsSmc, ForceMaskWritesOnlyTheFansWhoseBitChanges) {
  TempDir dir;
  const auto mac = twoFanMac(dir.path());
  Smc smc(dir.path());
  // Written by hand without the newline every write of ours ends with.
  testing::putFile(dir / "fan1_manual", "1");
  EXPECT_EQ(loadBigEndian16(smc.read("FS! ").block.bytes), 0x0001);

  EXPECT_EQ(smc.write("FS! ", bigEndian16(0x0003)), kIOReturnSuccess);
  EXPECT_EQ(mac.get("fan1_manual"), "1");
  EXPECT_EQ(mac.get("fan2_manual"), "1\n");
  EXPECT_EQ(loadBigEndian16(smc.read("FS! ").block.bytes), 0x0003);

  // Bits beyond the machine's fans are ignored; its own two are cleared.
  EXPECT_EQ(smc.write("FS! ", bigEndian16(0xFFFC)), kIOReturnSuccess);
  EXPECT_EQ(mac.fanValues("manual"), (std::vector<std::string>{"0", "0"}));
}

TEST(SysfsSmc, ReleasingTriesEveryFanAndAnswersTheFirstFailure) {
  TempDir dir;
  const auto mac = twoFanMac(dir.path());
  Smc smc(dir.path());
  mac.set("fan2_manual", "1");
  mac.makeUnwritable("fan1_manual");
  EXPECT_EQ(smc.read("FS! ").status, errnoStatus(EISDIR));
  EXPECT_EQ(smc.write("FS! ", bigEndian16(0)), errnoStatus(EISDIR));
  EXPECT_EQ(mac.get("fan2_manual"), "0\n");
}

// What a planted entry would be: a link out of the folder, a FIFO that blocks its
// opener, a file far longer than any attribute.
TEST(SysfsSmc, EntriesThatAreNotAttributesAreRefusedWithoutWaitingOrFollowing) {
  TempDir dir;
  const auto mac = twoFanMac(dir / "device");
  const auto outside = dir / "outside";
  testing::putFile(outside, "5000\n");
  std::filesystem::remove(dir / "device/fan1_output");
  std::filesystem::create_symlink(outside, dir / "device/fan1_output");
  std::filesystem::remove(dir / "device/fan2_input");
  ASSERT_EQ(::mkfifo((dir / "device/fan2_input").c_str(), 0600), 0);
  mac.set("temp2_input", std::string(SysfsDirectory::kMaxAttributeSize, '5'));
  Smc smc(dir / "device");

  EXPECT_EQ(smc.read("F0Tg").status, errnoStatus(ELOOP));
  EXPECT_EQ(smc.write("F0Tg", bigEndian16(encodeFpe2(3000))), errnoStatus(ELOOP));
  EXPECT_EQ(testing::contentOf(outside), "5000\n");
  EXPECT_EQ(smc.read("F1Ac").status, errnoStatus(EINVAL));
  EXPECT_EQ(smc.read("TC0P").status, errnoStatus(EFBIG));
  EXPECT_EQ(smc.read("Tp0T").status, kIOReturnSuccess);
}

TEST(SysfsUserClient, OpensOnlyAFolderItCouldOpenAtStartUp) {
  TempDir dir;
  const auto mac = twoFanMac(dir / "device");
  auto missing = makeUserClient("applesmc:" + (dir / "gone").string());
  EXPECT_EQ(missing->open(), 0U);
  EXPECT_EQ(missing->description(), "applesmc at " + (dir / "gone").string() +
                                        ": cannot open it (No such file or directory)");
  EXPECT_EQ(makeUserClient("macsmc:")->description(), "macsmc-hwmon needs a directory");
  EXPECT_EQ(makeUserClient("auto:")->description(), "auto needs a sysfs root after ':'");

  // Fixed when made: a folder put in the old one's place afterwards is not the one driven.
  Smc smc(dir / "device");
  std::filesystem::rename(dir / "device", dir / "moved");
  const FakeSysfsDevice impostor(dir / "device", Driver::applesmc, {{1, 2, 3}}, {});
  EXPECT_EQ(decoded(smc.read("F0Ac")), 2158.0);
  EXPECT_EQ(smc.write("F0Tg", bigEndian16(encodeFpe2(3000))), kIOReturnSuccess);
  EXPECT_EQ(testing::contentOf(dir / "moved/fan1_output"), "3000\n");
  EXPECT_EQ(impostor.get("fan1_output"), "3\n");
  EXPECT_EQ(smc.client().description(), "applesmc at " + (dir / "device").string());
}

// Sysfs trees as the kernel lays them out, searched the way auto does.
struct Layout {
  const char* name;
  // Each entry: a path under the root, and a link target (or "" for a folder of
  // attributes named by `driver`).
  std::vector<std::pair<std::string, std::string>> entries;
  const char* expected;  // the description, with ROOT for the (resolved) root
};

void lay(const std::filesystem::path& root, const std::pair<std::string, std::string>& entry) {
  const auto path = root / entry.first;
  std::filesystem::create_directories(path.parent_path());
  const auto& [where, target] = entry;
  if (target == "applesmc" || target == "macsmc") {
    const auto driver = target == "applesmc" ? Driver::applesmc : Driver::macsmc;
    (void)FakeSysfsDevice(path, driver, {{1200, 6000, 1800}}, {{"TC0P", 40000}});
  } else if (target.starts_with("name=")) {
    testing::putFile(path / "name", target.substr(5) + "\n");
  } else {
    std::filesystem::create_directory_symlink(target, path);
  }
}

TEST(SysfsDevice, AutoFindsTheFirstDriverWhereTheKernelPutsIt) {
  const std::vector<Layout> layouts{
      {"applesmc's platform device",
       {{"devices/platform/applesmc.768", "applesmc"},
        {"devices/platform/applesmc.768/hwmon/hwmon1/device", "../../../applesmc.768"},
        {"class/hwmon/hwmon1", "../../devices/platform/applesmc.768/hwmon/hwmon1"}},
       "applesmc at ROOT/devices/platform/applesmc.768"},
      {"an applesmc hwmon device without a name of its own",
       {{"devices/platform/smc/hwmon/hwmon0/device", "../.."},
        {"devices/platform/smc", "applesmc"},
        {"class/hwmon/hwmon0", "../../devices/platform/smc/hwmon/hwmon0"}},
       "applesmc at ROOT/devices/platform/smc"},
      {"macsmc-hwmon after a hwmon device of another driver",
       {{"devices/virtual/thermal/hwmon0", "name=acpitz"},
        {"class/hwmon/hwmon0", "../../devices/virtual/thermal/hwmon0"},
        {"devices/platform/soc/smc/macsmc-hwmon/hwmon/hwmon10", "macsmc"},
        {"class/hwmon/hwmon10", "../../devices/platform/soc/smc/macsmc-hwmon/hwmon/hwmon10"}},
       "macsmc-hwmon at ROOT/devices/platform/soc/smc/macsmc-hwmon/hwmon/hwmon10"},
      {"no Apple SMC",
       {{"devices/virtual/thermal/hwmon0", "name=acpitz"},
        {"class/hwmon/hwmon0", "../../devices/virtual/thermal/hwmon0"}},
       "no applesmc or macsmc-hwmon device under ROOT"},
  };
  for (const auto& layout : layouts) {
    SCOPED_TRACE(layout.name);
    TempDir dir;
    const auto root = std::filesystem::canonical(dir.path());
    for (const auto& entry : layout.entries) lay(root, entry);
    std::string expected = layout.expected;
    expected.replace(expected.find("ROOT"), 4, root.string());
    EXPECT_EQ(makeUserClient("auto:" + root.string())->description(), expected);
  }
}

}  // namespace
}  // namespace zephro::smc

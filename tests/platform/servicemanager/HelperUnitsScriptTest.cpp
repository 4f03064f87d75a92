#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <sstream>

#include "platform/servicemanager/CommandRunner.h"
#include "platform/servicemanager/ServiceManagerFactory.h"
#include "tests/support/TempDir.h"

namespace zephro {
namespace {

namespace fs = std::filesystem;
using Argv = std::vector<std::string>;

constexpr auto kSocket = "com.zephro.helper.socket";
constexpr auto kService = "com.zephro.helper.service";
constexpr auto kUsage = "usage: zephro-helper-units install | remove\n";
constexpr uid_t kNobody = 65534;

std::string read(const fs::path& file) {
  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void write(const fs::path& file, const std::string& content, fs::perms mode) {
  std::ofstream(file) << content;
  fs::permissions(file, mode);
}

void replaceAll(std::string& text, const std::string& token, const std::string& value) {
  for (auto at = text.find(token); at != std::string::npos; at = text.find(token, at)) {
    text.replace(at, token.size(), value);
    at += value.size();
  }
}

// A root of our own with the package's unit directory, systemd's, and a systemctl that
// only writes down how it was called; the install script configured for it the way the
// build configures it for the real system.
struct UnitsRoot {
  testing::TempDir root;
  fs::path shipped = root / "share/zephro/systemd";
  fs::path target = root / "etc/systemd/system";
  fs::path bin = root / "bin";
  fs::path systemctlLog = root / "systemctl.log";
  fs::path script = root / "zephro-helper-units";

  UnitsRoot() {
    for (const auto& dir : {shipped, target, bin}) fs::create_directories(dir);
    for (const auto& dir : {root / "share", root / "share/zephro", shipped}) {
      fs::permissions(dir, fs::perms(0755));
    }
    write(shipped / kSocket, "[Socket]\nListenStream=/run/com.zephro.helper.sock\n",
          fs::perms(0644));
    // Installed world-readable whatever its mode here.
    write(shipped / kService, "[Service]\nExecStart=/usr/libexec/zephro/com.zephro.helper\n",
          fs::perms(0600));
    write(bin / "systemctl", "#!/bin/sh\necho \"$*\" >> '" + systemctlLog.string() + "'\n",
          fs::perms(0755));

    auto text = read(testing::sourcePath("platform/servicemanager/zephro-helper-units.in"));
    replaceAll(text, "@ZEPHRO_UNITS_PATH@", bin.string() + ":/usr/bin:/bin");
    replaceAll(text, "@ZEPHRO_UNIT_SOURCE_DIR@", shipped.string());
    replaceAll(text, "@ZEPHRO_UNIT_TARGET_DIR@", target.string());
    write(script, text, fs::perms(0755));
  }

  [[nodiscard]] CommandResult run(Argv arguments) const {
    arguments.insert(arguments.begin(), script.string());
    return ProcessCommandRunner().run(arguments);
  }
  [[nodiscard]] bool untouched() const { return fs::is_empty(target) && !fs::exists(systemctlLog); }
};

bool isRoot() {
  return geteuid() == 0;
}

TEST(HelperUnitsScript, InstallsTheShippedUnitsWorldReadableAndRemovesThem) {
  if (!isRoot()) GTEST_SKIP() << "the shipped units must belong to root";
  const UnitsRoot r;
  const auto installed = r.run({"install"});
  ASSERT_EQ(installed.exitCode, 0) << installed.output;
  EXPECT_EQ(installed.output, "");
  for (const auto* unit : {kSocket, kService}) {
    struct stat info {};
    ASSERT_EQ(lstat((r.target / unit).c_str(), &info), 0) << unit;
    EXPECT_TRUE(S_ISREG(info.st_mode)) << unit;
    EXPECT_EQ(info.st_mode & 07777, 0644U) << unit;
    EXPECT_EQ(info.st_uid, 0U) << unit;
    EXPECT_EQ(read(r.target / unit), read(r.shipped / unit)) << unit;
  }
  EXPECT_EQ(read(r.systemctlLog),
            "daemon-reload\n"
            "stop com.zephro.helper.service\n"
            "unmask com.zephro.helper.socket com.zephro.helper.service\n"
            "enable com.zephro.helper.socket\n"
            "restart com.zephro.helper.socket\n");

  fs::remove(r.systemctlLog);
  const auto removed = r.run({"remove"});
  ASSERT_EQ(removed.exitCode, 0) << removed.output;
  EXPECT_TRUE(fs::is_empty(r.target));
  EXPECT_EQ(read(r.systemctlLog),
            "disable --now com.zephro.helper.socket\n"
            "stop com.zephro.helper.service\n"
            "daemon-reload\n");
}

TEST(HelperUnitsScript, RefusesUnitsThatAnyoneButRootCouldHaveWritten) {
  if (!isRoot()) GTEST_SKIP() << "handing a unit to another user needs root";
  // Each case spoils the shipped units, then names what is refused (under the root) and why.
  struct Case {
    std::function<void(const UnitsRoot&)> spoil;
    std::string refused, why;
  };
  const std::string dir = "share/zephro/systemd";
  const std::string socket = dir + "/" + kSocket;
  const std::string service = dir + "/" + kService;
  const auto toNobody = [](const fs::path& path) {
    EXPECT_EQ(chown(path.c_str(), kNobody, kNobody), 0) << path;
  };
  const std::vector<Case> cases = {
      {[](auto& r) {
         write(r.root / "secret", "root only\n", fs::perms(0600));
         fs::remove(r.shipped / kSocket);
         fs::create_symlink(r.root / "secret", r.shipped / kSocket);
       },
       socket, "is a symbolic link"},
      {[&](auto& r) { toNobody(r.shipped / kService); }, service, "is not owned by root"},
      {[](auto& r) { fs::permissions(r.shipped / kSocket, fs::perms(0664)); }, socket,
       "is writable by group or others"},
      {[](auto& r) { fs::permissions(r.shipped / kService, fs::perms(0646)); }, service,
       "is writable by group or others"},
      {[](auto& r) {
         fs::remove(r.shipped / kSocket);
         fs::create_directory(r.shipped / kSocket);
       },
       socket, "is not a regular file"},
      {[](auto& r) { fs::remove(r.shipped / kService); }, service, "is missing"},
      {[&](auto& r) { toNobody(r.shipped); }, dir, "is not owned by root"},
      // Not sticky, unlike /tmp above it.
      {[](auto& r) { fs::permissions(r.root / "share", fs::perms(0777)); }, "share",
       "is writable by group or others"},
      {[](auto& r) { fs::remove_all(r.shipped); }, dir, "is missing"},
  };
  for (const auto& c : cases) {
    const UnitsRoot r;
    c.spoil(r);
    const auto expected = (fs::canonical(r.root.path()) / c.refused).string() + " " + c.why;
    const auto result = r.run({"install"});
    EXPECT_EQ(result.exitCode, 3) << expected;
    EXPECT_EQ(result.output, "zephro-helper-units: " + expected + "\n");
    EXPECT_TRUE(r.untouched()) << expected;
  }
}

TEST(HelperUnitsScript, TakesNoPathsOrOtherArguments) {
  const UnitsRoot r;
  const std::vector<Argv> refused = {
      {}, {"install", r.shipped.string()}, {"install", "extra"}, {"remove", "extra"}, {"enable"}};
  for (const auto& arguments : refused) {
    const auto result = r.run(arguments);
    EXPECT_EQ(result.exitCode, 2) << ::testing::PrintToString(arguments);
    EXPECT_EQ(result.output, kUsage) << ::testing::PrintToString(arguments);
    EXPECT_TRUE(r.untouched()) << ::testing::PrintToString(arguments);
  }
}

TEST(HelperUnitsScript, TheBuiltScriptLooksWhereTheApplicationDoes) {
  const auto built = testing::binaryPath("platform/servicemanager/zephro-helper-units");
  const auto text = read(built);
  EXPECT_EQ(text.find("@ZEPHRO_"), std::string::npos) << "every placeholder is filled in";
  const auto paths = ApplicationPaths::forExecutable("/opt/elsewhere/bin/zephro");
  EXPECT_NE(text.find("\nshipped='" + paths.systemdUnitDir.string() + "'\n"), std::string::npos);
  EXPECT_EQ(paths.installScript.filename(), "zephro-helper-units");
  const auto result = ProcessCommandRunner().run({built.string(), "install", "/tmp"});
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_EQ(result.output, kUsage);
}

}  // namespace
}  // namespace zephro

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "platform/log/Log.h"
#include "platform/servicemanager/AutostartLoginItem.h"
#include "platform/servicemanager/ServiceErrors.h"
#include "platform/servicemanager/StartupSettingsOpener.h"
#include "tests/support/TempDir.h"

namespace zephro {
namespace {

std::string read(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(AutostartLoginItem, EnabledExactlyWhileTheEntryIsPresentAndNotHidden) {
  testing::TempDir config;
  const auto file = config / "autostart" / "com.zephro.app.desktop";
  AutostartLoginItem item(file, "/opt/zephro/bin/zephro");
  EXPECT_EQ(item.status(), 0);

  ASSERT_FALSE(item.registerService());
  EXPECT_EQ(item.status(), 1);
  const auto entry = read(file);
  EXPECT_NE(entry.find("[Desktop Entry]\n"), std::string::npos);
  EXPECT_NE(entry.find("\nType=Application\n"), std::string::npos);
  EXPECT_NE(entry.find("\nExec=/opt/zephro/bin/zephro\n"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(file.string() + ".new"));

  // A desktop records the user's "off" as Hidden=true; only the main group counts.
  std::ofstream(file) << "[Desktop Entry]\nExec=zephro\n Hidden = true \n";
  EXPECT_EQ(item.status(), 0);
  std::ofstream(file) << "[Desktop Entry]\nExec=zephro\nHidden=false\n"
                      << "[Desktop Action Quit]\nHidden=true\n";
  EXPECT_EQ(item.status(), 1);

  // Registering again turns a hidden entry back on.
  std::ofstream(file) << "[Desktop Entry]\nHidden=true\n";
  ASSERT_FALSE(item.registerService());
  EXPECT_EQ(item.status(), 1);

  ASSERT_FALSE(item.unregisterService());
  EXPECT_EQ(item.status(), 0);
  EXPECT_FALSE(std::filesystem::exists(file));
  const auto error = item.unregisterService();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, kServiceErrorNotRegistered);
}

TEST(AutostartLoginItem, AnUnwritableDirectoryIsAnErrorNotACrash) {
  testing::TempDir config;
  std::ofstream(config / "autostart") << "a file where the directory should be";
  AutostartLoginItem item(config / "autostart" / "com.zephro.app.desktop", "zephro");
  const auto error = item.registerService();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, kServiceErrorIO);
  EXPECT_EQ(item.status(), 0);
}

TEST(AutostartLoginItem, ExecValuesAreQuotedAndEscaped) {
  EXPECT_EQ(desktopExecQuoted("/usr/bin/zephro"), "/usr/bin/zephro");
  EXPECT_EQ(desktopExecQuoted("/home/me/My Apps/zephro"), "\"/home/me/My Apps/zephro\"");
  EXPECT_EQ(desktopExecQuoted("/opt/100%/zephro"), "/opt/100%%/zephro");
  // Inside quotes $ takes a backslash, and the entry's own escaping doubles it.
  EXPECT_EQ(desktopExecQuoted("/a b/$x"), "\"/a b/\\\\$x\"");
  EXPECT_EQ(desktopExecQuoted("/a b/c\\d"), "\"/a b/c\\\\\\\\d\"");
}

using Argv = std::vector<std::string>;

class RecordingRunner final : public CommandRunner {
 public:
  CommandResult run(const Argv&) override { return {}; }
  DetachedProcess startDetached(const DetachedLaunch& launch) override {
    started.push_back(launch.argv);
    return result;
  }
  std::vector<Argv> started;
  DetachedProcess result{4242, {}};
};

void installFakeTool(const std::filesystem::path& dir, const std::string& name) {
  const auto path = dir / name;
  std::ofstream(path) << "#!/bin/sh\n";
  chmod(path.c_str(), 0755);
}

TEST(StartupSettingsOpener, OpensTheInstalledToolOfTheCurrentDesktopOrLogsWhyNot) {
  testing::TempDir bin;
  const auto runner = std::make_shared<RecordingRunner>();
  const auto opener = [&](const std::string& desktop) {
    return StartupSettingsOpener(runner, desktop, bin.path().string());
  };
  log::Capture capture;
  opener("").open();
  opener("XFCE").open();  // not installed

  // GNOME prefers its session properties, and falls back to what is installed.
  installFakeTool(bin.path(), "gnome-tweaks");
  installFakeTool(bin.path(), "systemsettings5");
  EXPECT_EQ(opener("ubuntu:GNOME").command(), Argv{"gnome-tweaks"});
  EXPECT_EQ(StartupSettingsOpener(runner, "KDE", "/nonexistent:" + bin.path().string()).command(),
            (Argv{"systemsettings5", "kcm_autostart"}));
  installFakeTool(bin.path(), "gnome-session-properties");
  opener("ubuntu:GNOME").open();
  EXPECT_EQ(runner->started, std::vector<Argv>{{"gnome-session-properties"}});

  installFakeTool(bin.path(), "xfce4-session-settings");
  runner->result = {-1, "xfce4-session-settings: Permission denied"};
  opener("XFCE").open();
  const std::string prefix = "[Zephro] Could not open the startup applications settings: ";
  EXPECT_EQ(capture.lines(),
            (std::vector<std::string>{prefix + "no settings tool is known for this desktop.",
                                      prefix + "no settings tool is known for this desktop.",
                                      prefix + "xfce4-session-settings: Permission denied"}));
}

}  // namespace
}  // namespace zephro

#include "platform/servicemanager/ServiceManagerFactory.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/servicemanager/DevelopmentServiceManager.h"
#include "tests/support/TempDir.h"

namespace zephro {
namespace {

TEST(ServiceManagerFactory, TheOptionWinsOverTheVariableAndSystemdIsTheDefault) {
  using B = ServiceManagerBackend;
  EXPECT_EQ(selectServiceManagerBackend({}, nullptr).backend, B::systemd);
  EXPECT_EQ(selectServiceManagerBackend({}, "").backend, B::systemd);
  EXPECT_EQ(selectServiceManagerBackend({}, "development").backend, B::development);
  EXPECT_EQ(selectServiceManagerBackend({"--headless", "--service-manager", "development"}, nullptr)
                .backend,
            B::development);
  EXPECT_EQ(selectServiceManagerBackend({"--service-manager=development"}, nullptr).backend,
            B::development);
  const auto optionFirst =
      selectServiceManagerBackend({"--service-manager", "systemd"}, "development");
  EXPECT_EQ(optionFirst.backend, B::systemd);
  EXPECT_TRUE(optionFirst.error.empty());
}

TEST(ServiceManagerFactory, UnknownOrMissingNamesAreErrors) {
  EXPECT_EQ(selectServiceManagerBackend({"--service-manager", "launchd"}, nullptr).error,
            "--service-manager: unknown service manager \"launchd\" (development or systemd)");
  EXPECT_EQ(selectServiceManagerBackend({}, "dev").error,
            "ZEPHRO_SERVICE_MANAGER: unknown service manager \"dev\" (development or systemd)");
  EXPECT_EQ(selectServiceManagerBackend({"--service-manager"}, "development").error,
            "--service-manager needs a value: development or systemd");
}

TEST(ServiceManagerFactory, AnInstalledTreeFindsItsHelperProfileAndAnchorBesideTheExecutable) {
  const testing::TempDir root;
  const auto prefix = root.path() / "usr";
  const std::filesystem::path helper = prefix / "libexec" / "zephro" / "com.zephro.helper";
  const auto share = prefix / "share" / "zephro";
  std::filesystem::create_directories(helper.parent_path());
  std::filesystem::create_directories(share / "machines");
  const auto profile = share / "machines" / "macbookpro16-1.json";
  for (const auto& file : {helper, profile, share / "anchor.pub"}) std::ofstream(file) << "x";
  std::filesystem::permissions(helper, std::filesystem::perms::owner_all);

  const auto paths = ApplicationPaths::forExecutable(prefix / "bin" / "zephro");
  EXPECT_EQ(firstExisting(paths.helperCandidates), helper);
  EXPECT_EQ(firstExisting(paths.machineProfileCandidates), profile);
  EXPECT_EQ(firstExisting(paths.anchorKeyCandidates), share / "anchor.pub");

  const auto setup = makeServiceManager(ServiceManagerBackend::development, paths,
                                        std::make_shared<ProcessCommandRunner>());
  const auto* development = dynamic_cast<const DevelopmentServiceManager*>(setup.manager.get());
  ASSERT_NE(development, nullptr);
  EXPECT_EQ(development->layout().anchorKey, share / "anchor.pub");
  EXPECT_EQ(development->layout().helperExecutable, helper);
}

}  // namespace
}  // namespace zephro

#include "platform/servicemanager/ServiceManagerFactory.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace zephro

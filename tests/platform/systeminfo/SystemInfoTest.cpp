#include "platform/systeminfo/SystemInfo.h"

#include <gtest/gtest.h>

#include <fstream>

#include "tests/support/TempDir.h"

namespace zephro {
namespace {

TEST(SystemInfo, ModelComesFromTheFirmwareOrIsUnknown) {
  testing::TempDir dir;
  const struct {
    const char* content;
    const char* model;
    bool air;
  } cases[] = {
      {"MacBookAir8,1\n", "MacBookAir8,1", true},
      {"MacBookPro16,1   \n", "MacBookPro16,1", false},
      {"macbookair10,1", "macbookair10,1", true},
      {"\n", "unknown", false},
  };
  for (const auto& [content, model, air] : cases) {
    SCOPED_TRACE(content);
    std::ofstream(dir / "product_name") << content;
    EXPECT_EQ(SystemInfo::model(dir / "product_name"), model);
    EXPECT_EQ(SystemInfo::isMacBookAir(SystemInfo::model(dir / "product_name")), air);
  }
  EXPECT_EQ(SystemInfo::model(dir / "missing"), "unknown");
}

}  // namespace
}  // namespace zephro

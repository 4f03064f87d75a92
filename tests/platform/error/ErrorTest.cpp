#include "platform/error/Error.h"

#include <gtest/gtest.h>

namespace zephro {
namespace {

TEST(Error, DescriptionsPrintLikeFoundationWithOrWithoutUserInformation) {
  const auto error =
      Error::withDescription("SMCErrorDomain", 1, "Could not open connection to AppleSMC.");
  EXPECT_EQ(error.fullDescription(),
            "Error Domain=SMCErrorDomain Code=1 \"Could not open connection to AppleSMC.\" "
            "UserInfo={NSLocalizedDescription=Could not open connection to AppleSMC.}");
  EXPECT_EQ(error.localizedDescription(), "Could not open connection to AppleSMC.");

  const Error bare{"HelperError", -3, {}};
  EXPECT_EQ(bare.fullDescription(), "Error Domain=HelperError Code=-3 \"(null)\"");
  EXPECT_EQ(bare.localizedDescription(),
            "The operation couldn\u2019t be completed. (HelperError error -3.)");
}

}  // namespace
}  // namespace zephro

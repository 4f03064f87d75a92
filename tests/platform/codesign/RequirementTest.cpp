#include <gtest/gtest.h>

#include "CodesignTestSupport.h"
#include "platform/codesign/Requirement.h"

namespace zephro::codesign {
namespace {

using Kind = Requirement::Clause::Kind;

TEST(Requirement, ParsesClausesAndWritesThemBackInCanonicalForm) {
  std::unique_ptr<Requirement> parsed;
  ASSERT_EQ(requirementCreateWithString(testing::kClientRequirement, parsed), errSecSuccess);
  EXPECT_EQ(parsed->clauses(),
            (std::vector<Requirement::Clause>{{Kind::anchorGeneric, ""},
                                              {Kind::identifier, "com.zephro.app"},
                                              {Kind::leafOrganizationalUnit, "Q7K2M9T4XW"}}));
  EXPECT_EQ(parsed->text(), testing::kClientRequirement);

  // Spacing variants and escapes.
  ASSERT_EQ(requirementCreateWithString(
                "\tcertificate leaf [ subject.OU ]=\"A\\\"B\\\\\"\nand identifier \"x\"  ", parsed),
            errSecSuccess);
  EXPECT_EQ(parsed->clauses(),
            (std::vector<Requirement::Clause>{{Kind::leafOrganizationalUnit, "A\"B\\"},
                                              {Kind::identifier, "x"}}));
  EXPECT_EQ(parsed->text(), R"(certificate leaf[subject.OU] = "A\"B\\" and identifier "x")");
}

TEST(Requirement, RejectsEverythingOutsideTheLanguage) {
  const std::vector<std::string> invalid = {
      "",
      "anchor apple",
      "anchor apple generic and",
      "and anchor apple generic",
      "anchor apple generic or identifier \"x\"",
      "anchor apple generic identifier \"x\"",
      "identifier com.zephro.app",
      "identifier \"com.zephro.app",
      R"(identifier "a\nb")",
      "identifier \"a\\",
      "certificate leaf[subject.CN] = \"Q7K2M9T4XW\"",
      "certificate leaf[subject.OU = \"Q7K2M9T4XW\"",
      "certificate root[subject.OU] = \"Q7K2M9T4XW\"",
      "Anchor Apple Generic",
      std::string("identifier \"a\0b\"", 16),
      "identifier \"" + std::string(5000, 'a') + "\"",
  };
  for (const auto& text : invalid) {
    std::unique_ptr<Requirement> parsed =
        std::make_unique<Requirement>(std::vector<Requirement::Clause>{});
    EXPECT_EQ(requirementCreateWithString(text, parsed), errSecCSReqInvalid) << text;
    EXPECT_EQ(parsed, nullptr) << text;
  }
}

}  // namespace
}  // namespace zephro::codesign

#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/codesign/Status.h"

namespace zephro::codesign {

// A code requirement: clauses joined by `and`, every one of which must hold.
// The language understood is this subset of the platform's:
//   anchor apple generic                      signed by a team the trusted anchor certified
//   identifier "com.zephro.app"               the signature's identifier
//   certificate leaf[subject.OU] = "TEAMID"   the certified team ID
// Strings are double-quoted, without control characters; \" and \\ are the
// only escapes.
class Requirement {
 public:
  struct Clause {
    enum class Kind { anchorGeneric, identifier, leafOrganizationalUnit };
    Kind kind;
    std::string value;  // empty for anchorGeneric
    friend bool operator==(const Clause&, const Clause&) = default;
  };

  explicit Requirement(std::vector<Clause> clauses) : clauses_(std::move(clauses)) {}

  [[nodiscard]] const std::vector<Clause>& clauses() const { return clauses_; }
  // The requirement written back in its canonical form.
  [[nodiscard]] std::string text() const;

 private:
  std::vector<Clause> clauses_;
};

// Stand-in for SecRequirementCreateWithString: errSecCSReqInvalid for anything
// outside the language above (requirement stays empty), errSecSuccess otherwise.
[[nodiscard]] OSStatus requirementCreateWithString(std::string_view text,
                                                   std::unique_ptr<Requirement>& requirement);

}  // namespace zephro::codesign

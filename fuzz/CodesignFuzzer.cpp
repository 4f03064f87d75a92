// The first byte chooses the requirement parser (even) or the signature trailer (odd).
#include "platform/codesign/Requirement.h"
#include "platform/codesign/SignatureTrailer.h"

using namespace zephro::codesign;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::span<const std::uint8_t> input(data + 1, size - 1);
  if (data[0] % 2 == 0) {
    std::unique_ptr<Requirement> requirement, again;
    const std::string_view text(reinterpret_cast<const char*>(input.data()), input.size());
    // What the parser accepts, it must write back in a form it accepts again.
    if (requirementCreateWithString(text, requirement) == errSecSuccess &&
        (requirementCreateWithString(requirement->text(), again) != errSecSuccess ||
         again->clauses() != requirement->clauses())) {
      __builtin_trap();
    }
    return 0;
  }
  std::size_t length = 0;
  SignatureTrailer trailer;
  if (input.size() >= SignatureTrailer::kFooterSize &&
      trailerLengthFromFooter(input.last(SignatureTrailer::kFooterSize), input.size(), length) ==
          errSecSuccess &&
      parseTrailer(input.last(length), trailer) == errSecSuccess &&
      trailer.serialize().size() != length) {
    __builtin_trap();
  }
  return 0;
}

// Feeds outside input to the code-signing parsers: the first byte chooses the
// requirement parser (even) or the signature trailer (odd); the rest is the text
// or the end of a file.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "platform/codesign/Requirement.h"
#include "platform/codesign/SignatureTrailer.h"

using namespace zephro::codesign;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::span<const std::uint8_t> input(data + 1, size - 1);
  if (data[0] % 2 == 0) {
    std::unique_ptr<Requirement> requirement;
    const std::string_view text(reinterpret_cast<const char*>(input.data()), input.size());
    if (requirementCreateWithString(text, requirement) == errSecSuccess) {
      // What the parser accepts, it must write back in a form it accepts again.
      std::unique_ptr<Requirement> again;
      if (requirementCreateWithString(requirement->text(), again) != errSecSuccess ||
          again->clauses() != requirement->clauses()) {
        __builtin_trap();
      }
    }
    return 0;
  }
  if (input.size() < SignatureTrailer::kFooterSize) return 0;
  std::size_t length = 0;
  if (trailerLengthFromFooter(input.last(SignatureTrailer::kFooterSize), input.size(), length) !=
      errSecSuccess) {
    return 0;
  }
  SignatureTrailer trailer;
  if (parseTrailer(input.last(length), trailer) == errSecSuccess &&
      trailer.serialize().size() != length) {
    __builtin_trap();
  }
  return 0;
}

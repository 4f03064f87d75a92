#include "platform/codesign/Status.h"

namespace zephro::codesign {

std::string_view statusDescription(OSStatus status) {
  switch (status) {
    case errSecSuccess:
      return "valid";
    case errSecCSStaticCodeNotFound:
      return "the code could not be found or opened";
    case errSecCSNoSuchCode:
      return "no guest with the requested attributes";
    case errSecCSGuestInvalid:
      return "the identity of the guest has been invalidated";
    case errSecCSUnsigned:
      return "code object is not signed at all";
    case errSecCSSignatureFailed:
      return "invalid signature (code or signature have been modified)";
    case errSecCSSignatureUnsupported:
      return "unsupported type or version of signature";
    case errSecCSReqInvalid:
      return "invalid or corrupted code requirement";
    case errSecCSReqFailed:
      return "code failed to satisfy specified code requirement(s)";
    case errSecCSInternalError:
      return "internal error in code signing";
    case errSecCSCancelled:
      return "the operation was cancelled";
    default:
      return "unknown status";
  }
}

}  // namespace zephro::codesign

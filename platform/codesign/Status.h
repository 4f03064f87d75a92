#pragma once

#include <cstdint>
#include <string_view>

namespace zephro::codesign {

// Status numbers as the platform's code-signing services report them, so that
// callers' log lines quote the numbers support staff already know.
using OSStatus = std::int32_t;

inline constexpr OSStatus errSecSuccess = 0;
inline constexpr OSStatus errSecCSStaticCodeNotFound = -67068;    // no code at that path
inline constexpr OSStatus errSecCSNoSuchCode = -67065;            // the guest is gone
inline constexpr OSStatus errSecCSGuestInvalid = -67063;          // the guest died meanwhile
inline constexpr OSStatus errSecCSUnsigned = -67062;              // no signature at all
inline constexpr OSStatus errSecCSSignatureFailed = -67061;       // code or signature modified
inline constexpr OSStatus errSecCSSignatureUnsupported = -67059;  // unknown signature version
inline constexpr OSStatus errSecCSReqInvalid = -67052;            // requirement text malformed
inline constexpr OSStatus errSecCSReqFailed = -67050;             // requirement not satisfied
inline constexpr OSStatus errSecCSInternalError = -67048;         // I/O or crypto failure
inline constexpr OSStatus errSecCSCancelled = -67006;             // ran out of time

// A short English text for a status, for tools and test messages.
[[nodiscard]] std::string_view statusDescription(OSStatus status);

}  // namespace zephro::codesign

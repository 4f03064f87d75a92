#pragma once

#include <compare>
#include <string_view>

namespace zephro::update {

// Compares two version strings the way the update framework's standard comparator does.
// A version is split into runs of digits, runs of letters and runs of separators
// (punctuation and white space), and the runs are compared in order:
//   - digits with digits numerically, of any length ("1.10" > "1.9", "007" == "7");
//   - letters with letters by their bytes ("1.0a" < "1.0b", "1.0b" < "1.0rc");
//   - separators equal any separators ("1.0-1" == "1.0.1");
//   - of two different kinds, letters are older than digits or separators ("1.0.1" >
//     "1.0b1") and separators older than digits.
// When one version runs out first, the longer one is newer unless what it has left
// starts with letters: "1.0.1" > "1.0", and so "1.0.0" > "1.0" too (the comparator does
// not treat a trailing zero as nothing), but "1.0b1" < "1.0".
[[nodiscard]] std::strong_ordering compareVersions(std::string_view a, std::string_view b);

}  // namespace zephro::update

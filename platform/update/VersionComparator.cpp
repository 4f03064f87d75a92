#include "platform/update/VersionComparator.h"

#include <algorithm>
#include <vector>

namespace zephro::update {

namespace {

enum class Kind { digits, letters, separators };

struct Run {
  Kind kind;
  std::string_view text;
};

Kind kindOf(char c) {
  const auto byte = static_cast<unsigned char>(c);
  if (byte >= '0' && byte <= '9') return Kind::digits;
  // Only ASCII punctuation and white space separate; other bytes (UTF-8 included) are
  // letters, so a non-ASCII tag stays one run.
  if (byte < 0x80 && !((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z'))) {
    return Kind::separators;
  }
  return Kind::letters;
}

std::vector<Run> runsOf(std::string_view version) {
  std::vector<Run> runs;
  std::size_t start = 0;
  for (std::size_t i = 1; i <= version.size(); ++i) {
    if (i == version.size() || kindOf(version[i]) != kindOf(version[start])) {
      runs.push_back({kindOf(version[start]), version.substr(start, i - start)});
      start = i;
    }
  }
  return runs;
}

// Digit runs of any length: leading zeros dropped, then the longer is larger.
std::strong_ordering compareNumbers(std::string_view a, std::string_view b) {
  const auto trim = [](std::string_view digits) {
    const auto first = digits.find_first_not_of('0');
    return first == std::string_view::npos ? std::string_view() : digits.substr(first);
  };
  a = trim(a);
  b = trim(b);
  if (a.size() != b.size()) return a.size() <=> b.size();
  return a.compare(b) <=> 0;
}

// The rank of a kind when two runs of different kinds meet.
int rank(Kind kind) {
  switch (kind) {
    case Kind::letters:
      return 0;
    case Kind::separators:
      return 1;
    case Kind::digits:
      return 2;
  }
  return 0;
}

}  // namespace

std::strong_ordering compareVersions(std::string_view a, std::string_view b) {
  const std::vector<Run> left = runsOf(a);
  const std::vector<Run> right = runsOf(b);
  const std::size_t common = std::min(left.size(), right.size());
  for (std::size_t i = 0; i < common; ++i) {
    const Run& x = left[i];
    const Run& y = right[i];
    if (x.kind != y.kind) return rank(x.kind) <=> rank(y.kind);
    std::strong_ordering order = std::strong_ordering::equal;
    if (x.kind == Kind::digits) order = compareNumbers(x.text, y.text);
    if (x.kind == Kind::letters) order = x.text.compare(y.text) <=> 0;
    if (std::is_neq(order)) return order;
  }
  if (left.size() == right.size()) return std::strong_ordering::equal;
  const bool leftLonger = left.size() > right.size();
  const Run& next = leftLonger ? left[common] : right[common];
  // What is left is a pre-release tag ("b1") or a further number (".1").
  const bool longerIsNewer = next.kind != Kind::letters;
  return leftLonger == longerIsNewer ? std::strong_ordering::greater : std::strong_ordering::less;
}

}  // namespace zephro::update

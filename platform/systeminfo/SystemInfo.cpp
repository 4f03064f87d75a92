#include "platform/systeminfo/SystemInfo.h"

#include <algorithm>
#include <cctype>
#include <fstream>

namespace zephro {

std::string SystemInfo::model(const std::filesystem::path& productName) {
  std::ifstream in(productName);
  std::string name;
  std::getline(in, name);
  // The firmware pads some names with spaces.
  while (!name.empty() && std::isspace(static_cast<unsigned char>(name.back()))) name.pop_back();
  return name.empty() ? "unknown" : name;
}

bool SystemInfo::isMacBookAir(const std::string& model) {
  std::string lower = model;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower.find("macbookair") != std::string::npos;
}

}  // namespace zephro

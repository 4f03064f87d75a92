#include "platform/update/UpdaterMemory.h"

#include <fstream>
#include <nlohmann/json.hpp>
#include <system_error>

namespace zephro::update {

UpdaterMemory UpdaterMemory::load(const std::filesystem::path& file) {
  UpdaterMemory memory;
  std::ifstream in(file);
  const auto json = nlohmann::json::parse(in, nullptr, /*allow_exceptions=*/false);
  if (!json.is_object()) return memory;
  if (const auto it = json.find("automaticChecks"); it != json.end() && it->is_boolean()) {
    memory.automaticChecks = it->get<bool>();
  }
  if (const auto it = json.find("highestOfferedVersion"); it != json.end() && it->is_string()) {
    memory.highestOfferedVersion = it->get<std::string>();
  }
  return memory;
}

bool UpdaterMemory::save(const std::filesystem::path& file) const {
  nlohmann::json json = nlohmann::json::object();
  if (automaticChecks) json["automaticChecks"] = *automaticChecks;
  json["highestOfferedVersion"] = highestOfferedVersion;
  std::error_code error;
  std::filesystem::create_directories(file.parent_path(), error);
  auto temporary = file;
  temporary += ".new";
  {
    std::ofstream out(temporary, std::ios::trunc);
    out << json.dump(2) << '\n';
    if (!out.flush()) return false;
  }
  std::filesystem::rename(temporary, file, error);
  return !error;
}

}  // namespace zephro::update

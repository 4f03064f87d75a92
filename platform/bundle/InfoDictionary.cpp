#include "platform/bundle/InfoDictionary.h"

#include <fstream>
#include <nlohmann/json.hpp>

namespace zephro::bundle {

namespace {

// Far above any real dictionary; keeps a stray large file from being read whole.
constexpr std::size_t kMaxInfoFileSize = std::size_t{256} * 1024;

template <typename T>
std::optional<T> get(const std::map<std::string, InfoDictionary::Value, std::less<>>& values,
                     std::string_view key) {
  const auto it = values.find(key);
  if (it == values.end()) return std::nullopt;
  if (const T* value = std::get_if<T>(&it->second)) return *value;
  return std::nullopt;
}

}  // namespace

InfoDictionary InfoDictionary::parse(std::string_view json) {
  const nlohmann::json document = nlohmann::json::parse(json, nullptr, /*allow_exceptions=*/false);
  InfoDictionary info;
  if (!document.is_object()) return info;
  for (const auto& [key, value] : document.items()) {
    if (value.is_string()) {
      info.values_.emplace(key, value.get<std::string>());
    } else if (value.is_boolean()) {
      info.values_.emplace(key, value.get<bool>());
    } else if (value.is_number()) {
      info.values_.emplace(key, value.get<double>());
    }
  }
  return info;
}

InfoDictionary InfoDictionary::load(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return {};
  std::string text(kMaxInfoFileSize + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(in.gcount()));
  if (text.size() > kMaxInfoFileSize) return {};
  return parse(text);
}

std::optional<std::string> InfoDictionary::string(std::string_view key) const {
  return get<std::string>(values_, key);
}

std::optional<bool> InfoDictionary::boolean(std::string_view key) const {
  return get<bool>(values_, key);
}

std::optional<double> InfoDictionary::number(std::string_view key) const {
  return get<double>(values_, key);
}

bool InfoDictionary::contains(std::string_view key) const {
  return values_.find(key) != values_.end();
}

}  // namespace zephro::bundle

#include "platform/error/Error.h"

namespace zephro {

Error Error::withDescription(std::string domain, std::int64_t code, std::string description) {
  return Error{std::move(domain), code, {{kLocalizedDescriptionKey, std::move(description)}}};
}

std::string Error::localizedDescription() const {
  if (const auto it = userInfo.find(kLocalizedDescriptionKey); it != userInfo.end()) {
    return it->second;
  }
  return "The operation couldn\u2019t be completed. (" + domain + " error " + std::to_string(code) +
         ".)";
}

std::string Error::fullDescription() const {
  std::string text = "Error Domain=" + domain + " Code=" + std::to_string(code) + " \"";
  const auto description = userInfo.find(kLocalizedDescriptionKey);
  text += description != userInfo.end() ? description->second : "(null)";
  text += "\"";
  if (!userInfo.empty()) {
    text += " UserInfo={";
    bool first = true;
    for (const auto& [key, value] : userInfo) {
      if (!first) text += ", ";
      first = false;
      text += key + "=" + value;
    }
    text += "}";
  }
  return text;
}

}  // namespace zephro

#include "platform/update/Appcast.h"

#include <expat.h>

#include <charconv>
#include <compare>
#include <memory>
#include <string>

#include "platform/update/VersionComparator.h"

namespace zephro::update {

namespace {

// Expat names namespaced elements and attributes "<namespace><separator><local name>". A
// space cannot occur in a namespace name that is a URI.
constexpr char kNamespaceSeparator = ' ';
constexpr std::size_t kItemDepth = 3;  // rss/channel/item

std::string inAppcastNamespace(std::string_view local) {
  return std::string(kAppcastNamespace) + kNamespaceSeparator + std::string(local);
}

const std::string kVersion = inAppcastNamespace("version");
const std::string kShortVersion = inAppcastNamespace("shortVersionString");
const std::string kMinimumSystemVersion = inAppcastNamespace("minimumSystemVersion");
const std::string kInformationalUpdate = inAppcastNamespace("informationalUpdate");
const std::string kEdSignature = inAppcastNamespace("edSignature");

std::string_view localName(std::string_view name) {
  const auto separator = name.rfind(kNamespaceSeparator);
  return separator == std::string_view::npos ? name : name.substr(separator + 1);
}

std::string trimmed(std::string_view text) {
  constexpr std::string_view kSpace = " \t\r\n";
  const auto first = text.find_first_not_of(kSpace);
  if (first == std::string_view::npos) return {};
  return std::string(text.substr(first, text.find_last_not_of(kSpace) - first + 1));
}

std::uint64_t lengthFrom(std::string_view text) {
  const std::string digits = trimmed(text);
  std::uint64_t length = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), length);
  return error == std::errc() && end == digits.data() + digits.size() ? length : 0;
}

// One <item> while it is read: versions come from elements or from the enclosure.
struct ItemDraft {
  AppcastItem item;
  std::string elementVersion;
  std::string elementShortVersion;
  std::string enclosureVersion;
  std::string enclosureShortVersion;

  [[nodiscard]] std::optional<AppcastItem> finish() && {
    item.versionString = elementVersion.empty() ? enclosureVersion : elementVersion;
    const std::string& shortVersion =
        elementShortVersion.empty() ? enclosureShortVersion : elementShortVersion;
    item.displayVersionString = shortVersion.empty() ? item.versionString : shortVersion;
    if (item.versionString.empty()) return std::nullopt;
    if (item.enclosure && item.enclosure->url.empty()) return std::nullopt;
    return std::move(item);
  }
};

class AppcastParser {
 public:
  AppcastParser() : parser_(XML_ParserCreateNS(nullptr, kNamespaceSeparator), &XML_ParserFree) {
    if (!parser_) throw std::bad_alloc();
    XML_SetUserData(parser_.get(), this);
    XML_SetElementHandler(parser_.get(), &AppcastParser::onStart, &AppcastParser::onEnd);
    XML_SetCharacterDataHandler(parser_.get(), &AppcastParser::onText);
    XML_SetStartDoctypeDeclHandler(parser_.get(), &AppcastParser::onDoctype);
    XML_SetParamEntityParsing(parser_.get(), XML_PARAM_ENTITY_PARSING_NEVER);
  }

  std::vector<AppcastItem> parse(std::string_view xml) {
    const auto status =
        XML_Parse(parser_.get(), xml.data(), static_cast<int>(xml.size()), XML_TRUE);
    if (refusal_) throw *refusal_;
    if (status != XML_STATUS_OK) {
      throw AppcastError(XML_ErrorString(XML_GetErrorCode(parser_.get())),
                         XML_GetErrorLineNumber(parser_.get()),
                         XML_GetErrorColumnNumber(parser_.get()) + 1);
    }
    return std::move(items_);
  }

 private:
  static AppcastParser& self(void* data) { return *static_cast<AppcastParser*>(data); }

  static void XMLCALL onStart(void* data, const XML_Char* name, const XML_Char** attributes) {
    self(data).start(name, attributes);
  }
  static void XMLCALL onEnd(void* data, const XML_Char* name) { self(data).end(name); }
  static void XMLCALL onText(void* data, const XML_Char* text, int length) {
    self(data).text(std::string_view(text, static_cast<std::size_t>(length)));
  }
  // A document type declaration is where entities are declared; no feed needs one.
  static void XMLCALL onDoctype(void* data, const XML_Char* /*name*/, const XML_Char* /*system*/,
                                const XML_Char* /*public*/, int /*hasInternalSubset*/) {
    self(data).refuse("document type declarations are not allowed");
  }

  void refuse(const std::string& reason) {
    if (refusal_) return;
    refusal_.emplace(reason, XML_GetCurrentLineNumber(parser_.get()),
                     XML_GetCurrentColumnNumber(parser_.get()) + 1);
    XML_StopParser(parser_.get(), XML_FALSE);
  }

  [[nodiscard]] bool inItem() const { return draft_ && path_.size() > kItemDepth; }

  void start(std::string_view name, const XML_Char** attributes) {
    if (refusal_) return;  // expat may still report the event it was stopped in
    if (path_.empty() && name != "rss") {
      refuse("the root element is <" + std::string(localName(name)) + ">, not <rss>");
      return;
    }
    path_.emplace_back(name);
    if (path_.size() == kItemDepth && path_[1] == "channel" && name == "item") {
      draft_.emplace();
    } else if (inItem() && path_.size() == kItemDepth + 1) {
      text_.clear();
      if (name == "enclosure" && !draft_->item.enclosure) readEnclosure(attributes);
      if (name == kInformationalUpdate) draft_->item.informationalUpdate = true;
    }
  }

  void readEnclosure(const XML_Char** attributes) {
    AppcastItem::Enclosure enclosure;
    for (std::size_t i = 0; attributes[i] != nullptr && attributes[i + 1] != nullptr; i += 2) {
      const std::string_view attribute = attributes[i];
      const std::string value = trimmed(attributes[i + 1]);
      if (attribute == "url") enclosure.url = value;
      if (attribute == "length") enclosure.length = lengthFrom(value);
      if (attribute == "type") enclosure.type = value;
      if (attribute == kEdSignature) enclosure.edSignature = value;
      if (attribute == kVersion) draft_->enclosureVersion = value;
      if (attribute == kShortVersion) draft_->enclosureShortVersion = value;
    }
    draft_->item.enclosure = std::move(enclosure);
  }

  void text(std::string_view text) {
    // Only the text directly inside an item's child element is a value.
    if (inItem() && path_.size() == kItemDepth + 1) text_ += text;
  }

  void end(std::string_view name) {
    if (refusal_ || path_.empty()) return;
    if (inItem() && path_.size() == kItemDepth + 1) {
      const std::string value = trimmed(text_);
      AppcastItem& item = draft_->item;
      if (name == "title") item.title = value;
      if (name == "link" && !value.empty()) item.infoURL = value;
      if (name == kVersion) draft_->elementVersion = value;
      if (name == kShortVersion) draft_->elementShortVersion = value;
      if (name == kMinimumSystemVersion && !value.empty()) item.minimumSystemVersion = value;
    } else if (draft_ && path_.size() == kItemDepth) {
      if (auto item = std::move(*draft_).finish()) items_.push_back(std::move(*item));
      draft_.reset();
    }
    path_.pop_back();
  }

  std::unique_ptr<XML_ParserStruct, decltype(&XML_ParserFree)> parser_;
  std::vector<std::string> path_;
  std::optional<ItemDraft> draft_;
  std::string text_;
  std::vector<AppcastItem> items_;
  std::optional<AppcastError> refusal_;
};

}  // namespace

std::vector<AppcastItem> parseAppcast(std::string_view xml) {
  if (xml.size() > kMaxAppcastSize) {
    throw AppcastError("The update feed is larger than 4 MiB; it was not read.");
  }
  return AppcastParser().parse(xml);
}

std::optional<AppcastItem> bestItem(const std::vector<AppcastItem>& items,
                                    std::string_view runningVersion) {
  const AppcastItem* best = nullptr;
  for (const AppcastItem& item : items) {
    if (std::is_lteq(compareVersions(item.versionString, runningVersion))) continue;
    if (!best || std::is_gt(compareVersions(item.versionString, best->versionString))) {
      best = &item;
    }
  }
  return best ? std::optional<AppcastItem>(*best) : std::nullopt;
}

}  // namespace zephro::update

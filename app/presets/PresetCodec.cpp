#include "app/presets/PresetCodec.h"

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>
#include <variant>

namespace zephro {
namespace {

using nlohmann::json;

void appendEscaped(QByteArray& out, const QString& text) {
  static constexpr char hex[] = "0123456789abcdef";
  out += '"';
  for (const char c : text.toUtf8()) {
    const auto byte = static_cast<unsigned char>(c);
    switch (byte) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '/':
        out += "\\/";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (byte < 0x20) {
          out += "\\u00";
          out += hex[byte >> 4];
          out += hex[byte & 0xf];
        } else {
          out += c;
        }
    }
  }
  out += '"';
}

void appendPreset(QByteArray& out, const Preset& preset) {
  out += "{\"id\":";
  appendEscaped(out, preset.idText());
  out += ",\"name\":";
  appendEscaped(out, preset.name);
  out += ",\"mode\":";
  appendEscaped(out, rawValue(preset.mode));
  out += ",\"value\":";
  out += QByteArray::number(static_cast<qlonglong>(preset.value));
  if (preset.symbol) {
    out += ",\"symbol\":";
    appendEscaped(out, *preset.symbol);
  }
  out += '}';
}

// A whole number that fits 64 bits; a float is accepted when it is exactly one.
std::optional<std::int64_t> wholeNumber(const json& value) {
  if (value.is_number_integer() && !value.is_number_unsigned()) return value.get<std::int64_t>();
  if (value.is_number_unsigned()) {
    const auto number = value.get<std::uint64_t>();
    if (number > std::uint64_t(std::numeric_limits<std::int64_t>::max())) return std::nullopt;
    return static_cast<std::int64_t>(number);
  }
  if (value.is_number_float()) {
    const double number = value.get<double>();
    // 2^63 itself is out of range, so the upper test is strict.
    if (std::trunc(number) != number || number < -9223372036854775808.0 ||
        number >= 9223372036854775808.0) {
      return std::nullopt;
    }
    return static_cast<std::int64_t>(number);
  }
  return std::nullopt;
}

QString text(const json& value) {
  return QString::fromStdString(value.get<std::string>());
}

// Decodes one entry, or says what is wrong with it.
std::variant<Preset, QString> decodeEntry(const json& entry) {
  if (!entry.is_object()) return QStringLiteral("not an object");
  const auto field = [&entry](const char* key) -> const json* {
    const auto it = entry.find(key);
    return it == entry.end() ? nullptr : &*it;
  };
  const json* id = field("id");
  const json* name = field("name");
  const json* mode = field("mode");
  const json* value = field("value");
  const json* symbol = field("symbol");
  for (const auto& [key, present] : {std::pair{"id", id}, std::pair{"name", name},
                                     std::pair{"mode", mode}, std::pair{"value", value}}) {
    if (!present) return QStringLiteral("missing \"%1\"").arg(QLatin1StringView(key));
  }
  Preset preset;
  const auto uuid = id->is_string() ? uuidFromText(text(*id)) : std::nullopt;
  if (!uuid) return QStringLiteral("\"id\" is not a UUID");
  preset.id = *uuid;
  if (!name->is_string()) return QStringLiteral("\"name\" is not a string");
  preset.name = text(*name);
  const auto presetMode = mode->is_string() ? presetModeFromRaw(text(*mode)) : std::nullopt;
  if (!presetMode) return QStringLiteral("unknown mode");
  preset.mode = *presetMode;
  const auto number = wholeNumber(*value);
  if (!number) return QStringLiteral("\"value\" is not a 64-bit whole number");
  preset.value = *number;
  if (symbol && !symbol->is_null()) {
    if (!symbol->is_string()) return QStringLiteral("\"symbol\" is not a string");
    preset.symbol = text(*symbol);
  }
  return preset;
}

}  // namespace

QByteArray encodePresets(const QList<Preset>& presets) {
  QByteArray out = "[";
  for (qsizetype i = 0; i < presets.size(); ++i) {
    if (i > 0) out += ',';
    appendPreset(out, presets[i]);
  }
  out += ']';
  return out;
}

DecodedPresets decodePresets(const QByteArray& data) {
  DecodedPresets decoded;
  json document;
  try {
    document = json::parse(data.begin(), data.end());
  } catch (const json::parse_error& error) {
    decoded.problem = QStringLiteral("malformed JSON at byte %1").arg(error.byte);
    return decoded;
  } catch (const json::exception&) {
    // A number too large for a double, such as 1e400.
    decoded.problem = QStringLiteral("malformed JSON (a number out of range)");
    return decoded;
  }
  if (!document.is_array()) {
    decoded.problem = QStringLiteral("not a JSON array");
    return decoded;
  }
  decoded.entryCount = document.size();
  for (std::size_t i = 0; i < document.size(); ++i) {
    auto entry = decodeEntry(document[i]);
    if (auto* preset = std::get_if<Preset>(&entry)) {
      decoded.presets.append(std::move(*preset));
    } else if (!decoded.problem) {
      decoded.problem = QStringLiteral("entry %1: %2").arg(i + 1).arg(std::get<QString>(entry));
    }
  }
  return decoded;
}

}  // namespace zephro

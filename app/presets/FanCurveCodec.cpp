#include "app/presets/FanCurveCodec.h"

#include <nlohmann/json.hpp>
#include <variant>

#include "app/presets/Preset.h"
#include "app/presets/PresetRules.h"

namespace zephro {
namespace {

using nlohmann::json;

QString jsonText(const json& value) {
  return QString::fromStdString(value.get<std::string>());
}

std::variant<CurvePoint, QString> decodeCurvePoint(const json& entry) {
  if (!entry.is_object()) return QStringLiteral("a point is not an object");
  const auto celsius = entry.find("celsius");
  const auto percent = entry.find("percent");
  if (celsius == entry.end() || !celsius->is_number()) {
    return QStringLiteral("a point's \"celsius\" is not a number");
  }
  if (percent == entry.end() || !percent->is_number_integer()) {
    return QStringLiteral("a point's \"percent\" is not a whole number");
  }
  const auto value = percent->get<std::int64_t>();
  // Out of range for an int is out of range for a curve; the rules say so below.
  return CurvePoint{celsius->get<double>(), value < 0 ? -1 : value > 100 ? 101 : int(value)};
}

std::variant<FanCurve, QString> decodeCurveEntry(const json& entry) {
  if (!entry.is_object()) return QStringLiteral("not an object");
  FanCurve curve;
  const auto id = entry.find("id");
  const auto uuid = id != entry.end() && id->is_string() ? uuidFromText(jsonText(*id)) : std::nullopt;
  if (!uuid) return QStringLiteral("\"id\" is not a UUID");
  curve.id = *uuid;
  const auto name = entry.find("name");
  if (name == entry.end() || !name->is_string()) return QStringLiteral("\"name\" is not a string");
  if (auto problem = validateName(jsonText(*name))) return *problem;
  curve.name = trimmedPresetName(jsonText(*name));
  if (const auto symbol = entry.find("symbol"); symbol != entry.end() && !symbol->is_null()) {
    if (!symbol->is_string()) return QStringLiteral("\"symbol\" is not a string");
    curve.symbol = jsonText(*symbol);
  }
  const auto points = entry.find("points");
  if (points == entry.end() || !points->is_array())
    return QStringLiteral("\"points\" is not an array");
  for (const auto& pointEntry : *points) {
    auto point = decodeCurvePoint(pointEntry);
    if (auto* problem = std::get_if<QString>(&point)) return *problem;
    curve.points.push_back(std::get<CurvePoint>(point));
  }
  if (auto problem = curvePointsProblem(curve.points)) return *problem;
  return curve;
}

}  // namespace

QByteArray encodeCurves(const QList<FanCurve>& curves) {
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (const auto& curve : curves) {
    nlohmann::ordered_json entry;
    entry["id"] = curve.idText().toStdString();
    entry["name"] = curve.name.toStdString();
    if (curve.symbol) entry["symbol"] = curve.symbol->toStdString();
    auto& points = entry["points"] = nlohmann::ordered_json::array();
    for (const auto& point : curve.points) {
      points.push_back({{"celsius", point.celsius}, {"percent", point.percent}});
    }
    list.push_back(std::move(entry));
  }
  return QByteArray::fromStdString(list.dump());
}

DecodedCurves decodeCurves(const QByteArray& data) {
  DecodedCurves decoded;
  const json document = json::parse(data.begin(), data.end(), nullptr, false);
  if (!document.is_array()) {
    decoded.dropped.append(QStringLiteral("the stored curves are not a JSON array"));
    return decoded;
  }
  for (std::size_t i = 0; i < document.size(); ++i) {
    auto entry = decodeCurveEntry(document[i]);
    if (auto* curve = std::get_if<FanCurve>(&entry)) {
      decoded.curves.append(std::move(*curve));
    } else {
      decoded.dropped.append(
          QStringLiteral("curve %1: %2").arg(i + 1).arg(std::get<QString>(entry)));
    }
  }
  return decoded;
}

}  // namespace zephro

#include "app/ui/LocalizedFormat.h"

#include <QMetaType>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>

namespace zephro {

namespace {

// Larger widths or precisions are not something a translation needs; treating them as
// literal text keeps a corrupt table from asking for gigabytes of padding.
constexpr int kMaxFieldSize = 1000;
constexpr QStringView kConversions = u"@dDiuUxXoOfFeEgGsScC";

struct Placeholder {
  std::optional<int> position;  // 1-based, from "%2$..."
  bool leftAlign = false;
  bool plusSign = false;
  bool spaceSign = false;
  bool zeroPad = false;
  bool alternate = false;
  int width = 0;
  std::optional<int> precision;
  char16_t conversion = 0;
  qsizetype end = 0;  // index just past the placeholder
};

// Reads a decimal number of at most kMaxFieldSize; nothing when absent or too large.
std::optional<int> readNumber(const QString& text, qsizetype& i) {
  int value = 0;
  const qsizetype start = i;
  while (i < text.size() && text[i].isDigit() && text[i].unicode() < 128) {
    value = value * 10 + (text[i].unicode() - u'0');
    if (value > kMaxFieldSize) return std::nullopt;
    ++i;
  }
  if (i == start) return std::nullopt;
  return value;
}

// Parses the placeholder that starts at the '%' at index start, or nothing when the text
// there is not one this function knows how to fill.
std::optional<Placeholder> parsePlaceholder(const QString& text, qsizetype start) {
  Placeholder p;
  qsizetype i = start + 1;
  if (i < text.size() && text[i] == u'%') {
    p.conversion = u'%';
    p.end = i + 1;
    return p;
  }
  {
    qsizetype probe = i;
    if (const auto number = readNumber(text, probe);
        number && probe < text.size() && text[probe] == u'$') {
      if (*number < 1) return std::nullopt;
      p.position = *number;
      i = probe + 1;
    }
  }
  for (; i < text.size(); ++i) {
    const char16_t c = text[i].unicode();
    if (c == u'-') {
      p.leftAlign = true;
    } else if (c == u'+') {
      p.plusSign = true;
    } else if (c == u' ') {
      p.spaceSign = true;
    } else if (c == u'0') {
      p.zeroPad = true;
    } else if (c == u'#') {
      p.alternate = true;
    } else if (c == u'\'') {
      continue;  // digit grouping: numbers here are shown plain
    } else {
      break;
    }
  }
  if (i < text.size() && text[i].isDigit()) {
    const auto width = readNumber(text, i);
    if (!width) return std::nullopt;
    p.width = *width;
  }
  if (i < text.size() && text[i] == u'.') {
    ++i;
    p.precision = 0;
    if (i < text.size() && text[i].isDigit()) {
      p.precision = readNumber(text, i);
      if (!p.precision) return std::nullopt;
    }
  }
  for (const QStringView length : {u"hh", u"ll", u"h", u"l", u"q", u"L", u"z", u"t", u"j"}) {
    if (QStringView(text).mid(i).startsWith(length)) {
      i += length.size();
      break;
    }
  }
  if (i >= text.size() || !kConversions.contains(text[i])) return std::nullopt;
  p.conversion = text[i].unicode();
  p.end = i + 1;
  return p;
}

QString pad(const QString& body, const Placeholder& p, qsizetype zeroInsertAt = -1) {
  if (body.size() >= p.width) return body;
  const qsizetype missing = p.width - body.size();
  if (p.leftAlign) return body + QString(missing, u' ');
  if (zeroInsertAt >= 0) return QString(body).insert(zeroInsertAt, QString(missing, u'0'));
  return QString(missing, u' ') + body;
}

QString textOf(const QVariant& value) {
  if (!value.isValid() || value.isNull()) return QStringLiteral("(null)");
  return value.toString();
}

bool isFloatingPoint(const QVariant& value) {
  const int type = value.metaType().id();
  return type == QMetaType::Double || type == QMetaType::Float;
}

std::optional<std::int64_t> integerOf(const QVariant& value) {
  if (isFloatingPoint(value)) {
    const double d = std::trunc(value.toDouble());
    // 2^63 itself does not fit; everything below it does.
    if (!std::isfinite(d) || d < -9223372036854775808.0 || d >= 9223372036854775808.0) {
      return std::nullopt;
    }
    return static_cast<std::int64_t>(d);
  }
  if (value.metaType().id() == QMetaType::ULongLong) {
    return static_cast<std::int64_t>(value.toULongLong());
  }
  bool ok = false;
  const qlonglong number = value.toLongLong(&ok);
  if (!ok) return std::nullopt;
  return number;
}

std::optional<double> doubleOf(const QVariant& value) {
  bool ok = false;
  const double number = value.toDouble(&ok);
  if (!ok) return std::nullopt;
  return number;
}

QString signPrefix(bool negative, const Placeholder& p) {
  if (negative) return QStringLiteral("-");
  if (p.plusSign) return QStringLiteral("+");
  if (p.spaceSign) return QStringLiteral(" ");
  return {};
}

QString formatInteger(std::int64_t value, const Placeholder& p) {
  const char16_t c = p.conversion;
  const bool isSigned = c == u'd' || c == u'D' || c == u'i';
  const auto magnitude = isSigned && value < 0 ? 0 - static_cast<std::uint64_t>(value)
                                               : static_cast<std::uint64_t>(value);
  const int base = (c == u'x' || c == u'X') ? 16 : (c == u'o' || c == u'O') ? 8 : 10;
  QString digits = QString::number(static_cast<qulonglong>(magnitude), base);
  if (c == u'X') digits = digits.toUpper();
  if (p.precision) {
    if (*p.precision == 0 && magnitude == 0) digits.clear();
    if (digits.size() < *p.precision) digits.prepend(QString(*p.precision - digits.size(), u'0'));
  }
  QString prefix = isSigned ? signPrefix(value < 0, p) : QString();
  if (p.alternate && magnitude != 0) {
    if (base == 16) prefix += c == u'X' ? QStringLiteral("0X") : QStringLiteral("0x");
    if (base == 8 && !digits.startsWith(u'0')) prefix += u'0';
  }
  const bool zeros = p.zeroPad && !p.leftAlign && !p.precision;
  return pad(prefix + digits, p, zeros ? prefix.size() : -1);
}

QString formatDouble(double value, const Placeholder& p) {
  const char16_t c = p.conversion;
  const char style = (c == u'e' || c == u'E') ? 'e' : (c == u'g' || c == u'G') ? 'g' : 'f';
  const int precision = p.precision.value_or(6);
  QString body =
      QString::number(std::fabs(value), style, style == 'g' && precision == 0 ? 1 : precision);
  if (c == u'E' || c == u'G' || c == u'F') body = body.toUpper();
  const QString prefix = signPrefix(std::signbit(value) && !std::isnan(value), p);
  const bool zeros = p.zeroPad && !p.leftAlign && std::isfinite(value);
  return pad(prefix + body, p, zeros ? prefix.size() : -1);
}

QString formatCharacter(const QVariant& value, const Placeholder& p) {
  if (value.metaType().id() == QMetaType::QString) return pad(value.toString().left(1), p);
  const auto code = integerOf(value);
  if (!code) return pad(textOf(value), p);
  const bool valid = *code >= 0 && *code <= 0x10FFFF && !(*code >= 0xD800 && *code <= 0xDFFF);
  const char32_t character = valid ? static_cast<char32_t>(*code) : U'\uFFFD';
  return pad(QString::fromUcs4(&character, 1), p);
}

QString render(const Placeholder& p, const QVariant& value) {
  switch (p.conversion) {
    case u'@':
    case u's':
    case u'S': {
      QString text = textOf(value);
      if (p.precision) text.truncate(*p.precision);
      return pad(text, p);
    }
    case u'c':
    case u'C':
      return formatCharacter(value, p);
    case u'f':
    case u'F':
    case u'e':
    case u'E':
    case u'g':
    case u'G':
      if (const auto number = doubleOf(value)) return formatDouble(*number, p);
      return pad(textOf(value), p);
    default:
      if (const auto number = integerOf(value)) return formatInteger(*number, p);
      return pad(textOf(value), p);
  }
}

}  // namespace

QString localizedFormat(const QString& format, const QVariantList& arguments) {
  QString out;
  out.reserve(format.size());
  qsizetype nextArgument = 0;
  qsizetype i = 0;
  while (i < format.size()) {
    if (format[i] != u'%') {
      out += format[i++];
      continue;
    }
    const auto placeholder = parsePlaceholder(format, i);
    if (!placeholder) {
      out += format[i++];
      continue;
    }
    if (placeholder->conversion == u'%') {
      out += u'%';
    } else {
      const qsizetype index = placeholder->position ? *placeholder->position - 1 : nextArgument++;
      if (index < arguments.size()) {
        out += render(*placeholder, arguments[index]);
      } else {
        out += QStringView(format).mid(i, placeholder->end - i);
      }
    }
    i = placeholder->end;
  }
  return out;
}

}  // namespace zephro

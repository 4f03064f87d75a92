#include "tools/zephroctl/ZephroCtl.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QJsonDocument>
#include <QJsonObject>
#include <optional>

namespace zephro::ctl {
namespace {

constexpr const char* kUsage =
    "usage: zephroctl COMMAND\n"
    "  mode auto|max|NAME|ID     Auto, Max, or a preset or curve by name or id\n"
    "  status [--json]           the fastest fan and the system temperature\n"
    "  faster [N]                every fan N percent faster (1 to 75, default 10)\n"
    "  slower [N]                every fan N percent slower (1 to 75, default 10)\n"
    "  modes [QUERY]             the modes to choose from, or those matching QUERY\n"
    "  shortcuts                 the ready-made shortcuts and their phrases\n"
    "  update check|install|status\n"
    "                            look for an update, install the one found, or show\n"
    "                            where updating stands\n"
    "exit codes: 0 done, 1 Zephro reported another failure, 2 bad arguments,\n"
    "  3 no such preset or curve, 4 Zephro not ready, 5 Zephro's helper unreachable,\n"
    "  6 the session bus or Zephro cannot be reached\n";

constexpr const char* kService = "com.zephro.app";
constexpr const char* kPath = "/com/zephro/app";
constexpr const char* kIntents = "com.zephro.Intents1";
// An action may wait 8 s for Zephro to launch and 15 s for the helper.
constexpr int kCallTimeoutMs = 40000;

struct Entity {
  QString id;
  QString name;
};

// A failed call, as an exit code and the text for standard error.
struct Failure {
  int code;
  QString message;
};

int exitCodeFor(const QString& errorName) {
  if (errorName == QLatin1String("com.zephro.Intents1.Error.PresetNotFound")) {
    return kPresetNotFound;
  }
  if (errorName == QLatin1String("com.zephro.Intents1.Error.AppNotReady")) return kAppNotReady;
  if (errorName == QLatin1String("com.zephro.Intents1.Error.HelperUnreachable")) {
    return kHelperUnreachable;
  }
  // Nobody owns the name and nothing could start Zephro, or the bus itself went.
  if (errorName.startsWith(QLatin1String("org.freedesktop.DBus.Error.Spawn")) ||
      errorName == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
      errorName == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner") ||
      errorName == QLatin1String("org.freedesktop.DBus.Error.Disconnected") ||
      errorName == QLatin1String("org.freedesktop.DBus.Error.NoServer")) {
    return kBusUnavailable;
  }
  return kFailed;
}

class Client {
 public:
  Client(const QDBusConnection& bus, QTextStream& out) : bus_(bus), out_(out) {}

  // The call's answer, or the failure that ends the command.
  [[nodiscard]] QVariantList call(const QString& interface, const QString& method,
                                  const QVariantList& arguments = {}) {
    auto message = QDBusMessage::createMethodCall(kService, kPath, interface, method);
    message.setArguments(arguments);
    const auto reply = bus_.call(message, QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
      throw Failure{exitCodeFor(reply.errorName()), reply.errorMessage()};
    }
    return reply.arguments();
  }
  [[nodiscard]] QVariantList intents(const QString& method, const QVariantList& arguments = {}) {
    return call(QString::fromLatin1(kIntents), method, arguments);
  }
  [[nodiscard]] QDBusArgument property(const QString& name) {
    const auto answer = call(QStringLiteral("org.freedesktop.DBus.Properties"),
                             QStringLiteral("Get"), {QString::fromLatin1(kIntents), name});
    return answer.value(0).value<QDBusVariant>().variant().value<QDBusArgument>();
  }
  void activate(const QString& action) {
    (void)call(QStringLiteral("org.freedesktop.Application"), QStringLiteral("ActivateAction"),
               {action, QVariant::fromValue(QVariantList{}), QVariantMap{}});
  }
  void printFirst(const QVariantList& answer) { out_ << answer.value(0).toString() << '\n'; }

  QTextStream& out() { return out_; }

 private:
  const QDBusConnection& bus_;
  QTextStream& out_;
};

QList<Entity> entitiesIn(const QVariantList& answer) {
  QList<Entity> entities;
  const auto argument = answer.value(0).value<QDBusArgument>();
  argument.beginArray();
  while (!argument.atEnd()) {
    Entity entity;
    argument.beginStructure();
    argument >> entity.id >> entity.name;
    argument.endStructure();
    entities.append(entity);
  }
  argument.endArray();
  return entities;
}

// "auto", "max", an id, or a name that picks exactly one mode.
std::optional<QString> entityIdFor(Client& client, const QString& text) {
  if (text.compare(QLatin1String("auto"), Qt::CaseInsensitive) == 0) return "system";
  if (text.compare(QLatin1String("max"), Qt::CaseInsensitive) == 0) return "max";
  const auto byId =
      entitiesIn(client.intents("FanModeEntitiesForIdentifiers", {QStringList{text.toUpper()}}));
  if (byId.size() == 1) return byId.front().id;
  const auto byName = entitiesIn(client.intents("FindFanModeEntities", {text}));
  if (byName.size() == 1) return byName.front().id;
  QList<Entity> exact;
  for (const auto& entity : byName) {
    if (entity.name.compare(text, Qt::CaseInsensitive) == 0) exact.append(entity);
  }
  if (exact.size() == 1) return exact.front().id;
  if (byName.isEmpty()) return std::nullopt;
  QStringList names;
  for (const auto& entity : byName) names.append(entity.name);
  throw Failure{kBadArguments, QStringLiteral("zephroctl: “%1” names more than one mode (%2); "
                                              "give its id, as zephroctl modes lists it.")
                                   .arg(text, names.join(QLatin1String(", ")))};
}

int setMode(Client& client, const QStringList& rest) {
  if (rest.size() != 1) throw Failure{kBadArguments, QString::fromLatin1(kUsage)};
  // A text that names nothing goes to Zephro as it is, which refuses it in the user's
  // language.
  const QString id = entityIdFor(client, rest.front()).value_or(rest.front());
  client.printFirst(client.intents("SetFanMode", {id}));
  return kSuccess;
}

int status(Client& client, const QStringList& rest) {
  const bool json = rest == QStringList{QStringLiteral("--json")};
  if (!rest.isEmpty() && !json) throw Failure{kBadArguments, QString::fromLatin1(kUsage)};
  const auto answer = client.intents("GetFanStatus");
  if (!json) {
    client.out() << answer.value(3).toString() << '\n';
    return kSuccess;
  }
  const QJsonObject reading{{"rpm", answer.value(0).toLongLong()},
                            {"temperature", answer.value(1).toDouble()},
                            {"unit", answer.value(2).toString()}};
  client.out() << QJsonDocument(reading).toJson(QJsonDocument::Compact) << '\n';
  return kSuccess;
}

int step(Client& client, const char* method, const QStringList& rest) {
  if (rest.size() > 1) throw Failure{kBadArguments, QString::fromLatin1(kUsage)};
  bool isNumber = true;
  const int amount = rest.isEmpty() ? 10 : rest.front().toInt(&isNumber);
  if (!isNumber || amount < 1 || amount > 75) {
    throw Failure{kBadArguments, QStringLiteral("zephroctl: the step is a whole percent from 1 "
                                                "to 75, not “%1”.")
                                     .arg(rest.value(0))};
  }
  client.printFirst(client.intents(QString::fromLatin1(method), {amount}));
  return kSuccess;
}

int modes(Client& client, const QStringList& rest) {
  if (rest.size() > 1) throw Failure{kBadArguments, QString::fromLatin1(kUsage)};
  const auto answer = rest.isEmpty() ? client.intents("FanModeEntities")
                                     : client.intents("FindFanModeEntities", {rest.front()});
  for (const auto& entity : entitiesIn(answer)) {
    client.out() << entity.id << '\t' << entity.name << '\n';
  }
  return kSuccess;
}

int shortcuts(Client& client, const QStringList& rest) {
  if (!rest.isEmpty()) throw Failure{kBadArguments, QString::fromLatin1(kUsage)};
  const auto argument = client.property("AppShortcuts");
  argument.beginArray();
  while (!argument.atEnd()) {
    QString action, shortTitle, systemImage;
    QStringList phrases;
    argument.beginStructure();
    argument >> action >> shortTitle >> systemImage >> phrases;
    argument.endStructure();
    client.out() << shortTitle << '\n';
    for (const auto& phrase : phrases) client.out() << "  " << phrase << '\n';
  }
  argument.endArray();
  return kSuccess;
}

int update(Client& client, const QStringList& rest) {
  const QString what = rest.size() == 1 ? rest.front() : QString();
  if (what == QLatin1String("check")) {
    client.activate(QStringLiteral("check-for-updates"));
  } else if (what == QLatin1String("install")) {
    client.activate(QStringLiteral("install-update"));
  } else if (what == QLatin1String("status")) {
    const auto argument = client.property("UpdateState");
    QString kind, text;
    double progress = -1;
    argument.beginStructure();
    argument >> kind >> text >> progress;
    argument.endStructure();
    client.out() << kind;
    if (!text.isEmpty()) client.out() << ' ' << text;
    if (progress >= 0) client.out() << ' ' << qRound(progress * 100) << '%';
    client.out() << '\n';
  } else {
    throw Failure{kBadArguments, QString::fromLatin1(kUsage)};
  }
  return kSuccess;
}

}  // namespace

int run(const QStringList& arguments, const QDBusConnection& bus, QTextStream& out,
        QTextStream& err) {
  if (arguments.value(0) == QLatin1String("--help") || arguments.value(0) == QLatin1String("-h")) {
    out << kUsage;
    return kSuccess;
  }
  if (!bus.isConnected()) {
    err << "zephroctl: the session bus is not available.\n";
    return kBusUnavailable;
  }
  Client client(bus, out);
  const QString command = arguments.value(0);
  const QStringList rest = arguments.mid(1);
  try {
    if (command == QLatin1String("mode")) return setMode(client, rest);
    if (command == QLatin1String("status")) return status(client, rest);
    if (command == QLatin1String("faster")) return step(client, "IncreaseFanSpeed", rest);
    if (command == QLatin1String("slower")) return step(client, "DecreaseFanSpeed", rest);
    if (command == QLatin1String("modes")) return modes(client, rest);
    if (command == QLatin1String("shortcuts")) return shortcuts(client, rest);
    if (command == QLatin1String("update")) return update(client, rest);
    throw Failure{kBadArguments, QString::fromLatin1(kUsage)};
  } catch (const Failure& failure) {
    err << failure.message;
    if (!failure.message.endsWith('\n')) err << '\n';
    return failure.code;
  }
}

}  // namespace zephro::ctl

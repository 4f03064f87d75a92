// The tray application as a desktop runs it: the zephro program on a virtual display and a
// private session bus, with the development helper on the emulated two-fan laptop. The
// bench is the panel: it owns the org.kde.StatusNotifierWatcher the status item registers
// with, reads the item's picture as a host does, and clicks it to open the popover.
//
// The periods the CPU is measured over default to 60 s; ZEPHRO_APP_BENCH_SECONDS shortens
// them for a quick look.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QCoreApplication>
#include <QCoro/QCoroTask>
#include <QDBusAbstractAdaptor>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QEventLoop>
#include <QPoint>
#include <QProcess>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/core/HelperClient.h"
#include "bench/BenchSupport.h"
#include "platform/log/Log.h"

namespace {

using namespace zephro;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Millis = std::chrono::duration<double, std::milli>;

const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString kItemPath = QStringLiteral("/StatusNotifierItem");
const QString kItemInterface = QStringLiteral("org.kde.StatusNotifierItem");

// Generous guards: reaching one is a failure, never part of a measurement.
constexpr auto kStartGuard = 60s;
constexpr auto kWindowGuard = 20s;
constexpr auto kQuitGuard = 20s;
// A curve the emulated laptop's temperature lies on, so that the fans follow it.
constexpr const char* kCurveID = "6F1C2B9E-0C4D-4E55-9A51-2A7E1D3C8B40";
constexpr const char* kCurve =
    R"([{"id":"6F1C2B9E-0C4D-4E55-9A51-2A7E1D3C8B40","name":"Bench","points":)"
    R"([{"celsius":30,"percent":0},{"celsius":90,"percent":100}]}])";

// After the first picture the launch check, the helper's start and the first polls are
// still under way; they are the start's cost, not the steady state's.
constexpr auto kSettle = 10s;
// The popover's opening animation is over well within this.
constexpr auto kOpenSettle = 3s;
constexpr int kLaunches = 5;

std::chrono::seconds measuringPeriod() {
  if (const char* text = std::getenv("ZEPHRO_APP_BENCH_SECONDS")) {
    const int seconds = std::atoi(text);
    if (seconds > 0) return std::chrono::seconds(seconds);
  }
  return 60s;
}

// Turns the event loop until the condition holds or the guard passes; wake() makes it
// look again at once, so an observed event is timed when it arrives.
class Waiter : public QObject {
  Q_OBJECT

 public:
  bool until(const std::function<bool()>& condition, Clock::duration guard) {
    const auto deadline = Clock::now() + guard;
    while (!condition()) {
      const auto left = deadline - Clock::now();
      if (left <= Clock::duration::zero()) return false;
      QEventLoop loop;
      connect(this, &Waiter::woken, &loop, &QEventLoop::quit);
      QTimer::singleShot(std::chrono::ceil<std::chrono::milliseconds>(left), &loop,
                         &QEventLoop::quit);
      loop.exec();
    }
    return true;
  }
  void pause(Clock::duration period) {
    until([] { return false; }, period);
  }
  void wake() { emit woken(); }

 signals:
  void woken();
};

Waiter& waiter() {
  static Waiter instance;
  return instance;
}

// A child process whose first line on standard output is what the bench needs of it.
class Daemon {
 public:
  Daemon(const QString& program, const QStringList& arguments) {
    process_.start(program, arguments);
    if (!process_.waitForStarted(30000) || !process_.waitForReadyRead(30000)) {
      throw std::runtime_error(program.toStdString() + " did not start");
    }
    firstLine_ = QString::fromUtf8(process_.readLine()).trimmed();
  }
  ~Daemon() {
    process_.terminate();
    if (!process_.waitForFinished(10000)) process_.kill();
    process_.waitForFinished(10000);
  }
  Daemon(const Daemon&) = delete;
  Daemon& operator=(const Daemon&) = delete;

  [[nodiscard]] const QString& firstLine() const { return firstLine_; }

 private:
  QProcess process_;
  QString firstLine_;
};

// What a panel keeps of an item: who registered and when its picture could first be drawn.
struct ItemSighting {
  QString service;
  QString sender;
  std::optional<Clock::time_point> registered;
  std::optional<Clock::time_point> pictured;
};

class PanelAdaptor;

// The panel's side of the protocol: a watcher with a host, which reads an item's picture
// whenever the item says it changed.
class Panel : public QObject {
  Q_OBJECT

 public:
  explicit Panel(QDBusConnection bus);
  [[nodiscard]] QDBusConnection& bus() { return bus_; }
  ~Panel() override;

  // Forgets earlier items and watches for the one the process with this id registers.
  void expect(qint64 pid);
  [[nodiscard]] const ItemSighting& sighting() const { return sighting_; }
  void registerItem(const QString& service, const QDBusMessage& message);
  [[nodiscard]] QStringList registeredItems() const;
  void activate(QPoint at);

  Q_SLOT void onNewIcon(const QDBusMessage& message);

 private:
  void readPicture(const QString& sender);

  QDBusConnection bus_;
  std::unique_ptr<PanelAdaptor> adaptor_;
  qint64 expectedPid_ = -1;
  ItemSighting sighting_;
};

class PanelAdaptor : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
  Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ registeredItems)
  Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isHostRegistered)
  Q_PROPERTY(int ProtocolVersion READ protocolVersion)

 public:
  explicit PanelAdaptor(Panel& panel) : QDBusAbstractAdaptor(&panel), panel_(panel) {}

  [[nodiscard]] QStringList registeredItems() const { return panel_.registeredItems(); }
  [[nodiscard]] bool isHostRegistered() const { return true; }
  [[nodiscard]] int protocolVersion() const { return 0; }

  Q_SLOT void RegisterStatusNotifierItem(const QString& service, const QDBusMessage& message) {
    panel_.registerItem(service, message);
  }
  Q_SLOT void RegisterStatusNotifierHost(const QString&) {}

 signals:
  void StatusNotifierItemRegistered(const QString& service);
  void StatusNotifierItemUnregistered(const QString& service);
  void StatusNotifierHostRegistered();
  void StatusNotifierHostUnregistered();

 private:
  Panel& panel_;
};

// A picture a host can draw: at least one non-empty ARGB image of the size it claims.
bool hasDrawablePicture(const QDBusMessage& reply) {
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return false;
  const QVariant value = qvariant_cast<QDBusVariant>(reply.arguments().first()).variant();
  if (!value.canConvert<QDBusArgument>()) return false;
  const auto argument = value.value<QDBusArgument>();
  bool drawable = false;
  argument.beginArray();
  while (!argument.atEnd()) {
    int width = 0;
    int height = 0;
    QByteArray bytes;
    argument.beginStructure();
    argument >> width >> height >> bytes;
    argument.endStructure();
    if (width > 0 && height > 0 && bytes.size() == qsizetype{width} * height * 4) drawable = true;
  }
  argument.endArray();
  return drawable;
}

Panel::Panel(QDBusConnection bus)
    : bus_(std::move(bus)), adaptor_(std::make_unique<PanelAdaptor>(*this)) {
  if (!bus_.registerObject(kWatcherPath, this, QDBusConnection::ExportAdaptors) ||
      !bus_.registerService(kWatcherService)) {
    throw std::runtime_error("could not own the status notifier watcher");
  }
  // Subscribed before any item exists, so no item's first NewIcon can come too early.
  if (!bus_.connect(QString(), kItemPath, kItemInterface, QStringLiteral("NewIcon"), this,
                    SLOT(onNewIcon(QDBusMessage)))) {
    throw std::runtime_error("could not listen for NewIcon");
  }
}

Panel::~Panel() {
  bus_.unregisterService(kWatcherService);
  bus_.unregisterObject(kWatcherPath);
}

void Panel::expect(qint64 pid) {
  expectedPid_ = pid;
  sighting_ = {};
}

// Items register their object path or a bus name; either way the caller is the item's
// connection, and the bus daemon says whose it is.
void Panel::registerItem(const QString& service, const QDBusMessage& message) {
  if (bus_.interface()->servicePid(message.service()).value() != expectedPid_) return;
  sighting_.service = service;
  sighting_.sender = message.service();
  sighting_.registered = Clock::now();
  emit adaptor_->StatusNotifierItemRegistered(service);
  readPicture(sighting_.sender);
  waiter().wake();
}

QStringList Panel::registeredItems() const {
  return sighting_.service.isEmpty() ? QStringList{} : QStringList{sighting_.service};
}

void Panel::onNewIcon(const QDBusMessage& message) {
  if (message.service() == sighting_.sender) readPicture(sighting_.sender);
}

void Panel::readPicture(const QString& sender) {
  QDBusMessage get = QDBusMessage::createMethodCall(
      sender, kItemPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
  get << kItemInterface << QStringLiteral("IconPixmap");
  // NOLINTNEXTLINE(cppcoreguidelines-owning-memory): the parent owns it, as Qt requires.
  auto* call = new QDBusPendingCallWatcher(bus_.asyncCall(get), this);
  connect(call, &QDBusPendingCallWatcher::finished, this,
          [this, sender](QDBusPendingCallWatcher* finished) {
            finished->deleteLater();
            const auto now = Clock::now();
            if (sender != sighting_.sender || sighting_.pictured) return;
            if (hasDrawablePicture(finished->reply())) {
              sighting_.pictured = now;
              waiter().wake();
            }
          });
}

void Panel::activate(QPoint at) {
  QDBusMessage call = QDBusMessage::createMethodCall(sighting_.sender, kItemPath, kItemInterface,
                                                     QStringLiteral("Activate"));
  call << at.x() << at.y();
  bus_.send(call);
}

// utime + stime of every thread of the process, in clock ticks.
std::optional<long long> cpuTicks(qint64 pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  // The command name may hold spaces and parentheses; the fields follow its last ')'.
  const auto close = text.rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  long long utime = 0;
  long long stime = 0;
  // state is field 3 and utime field 14 of the line.
  for (int index = 3; index <= 15 && fields >> field; ++index) {
    if (index == 14) utime = std::stoll(field);
    if (index == 15) stime = std::stoll(field);
  }
  if (!fields) return std::nullopt;
  return utime + stime;
}

// A "Name:   1234 kB" line of a /proc file, in KiB.
std::optional<long long> procKiB(const std::string& path, const std::string& name) {
  std::ifstream file(path);
  std::string line;
  while (std::getline(file, line)) {
    if (line.rfind(name + ":", 0) == 0) {
      std::istringstream value(line.substr(name.size() + 1));
      long long kib = 0;
      if (value >> kib) return kib;
    }
  }
  return std::nullopt;
}

double mib(std::optional<long long> kib) {
  return kib ? static_cast<double>(*kib) / 1024.0 : -1.0;
}

// Whether the process has a window on the display that can be seen: without a window
// manager the application's windows are the root's own children.
class Display {
 public:
  explicit Display(const std::string& name) : connection_(xcb_connect(name.c_str(), nullptr)) {
    if (xcb_connection_has_error(connection_) != 0) {
      xcb_disconnect(connection_);
      throw std::runtime_error("could not connect to the display " + name);
    }
    // Created, not only looked up: on a fresh display no client has named it yet.
    const auto pidName = QByteArrayLiteral("_NET_WM_PID");
    auto* atom = xcb_intern_atom_reply(
        connection_,
        xcb_intern_atom(connection_, 0, static_cast<uint16_t>(pidName.size()), pidName.data()),
        nullptr);
    pidAtom_ = atom ? atom->atom : xcb_atom_t{XCB_ATOM_NONE};
    // NOLINTNEXTLINE(cppcoreguidelines-no-malloc): xcb's replies are the caller's to free.
    std::free(atom);
  }
  ~Display() { xcb_disconnect(connection_); }
  Display(const Display&) = delete;
  Display& operator=(const Display&) = delete;

  [[nodiscard]] bool showsWindowOf(qint64 pid) const {
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
    auto* tree = xcb_query_tree_reply(connection_, xcb_query_tree(connection_, root), nullptr);
    if (!tree) return false;
    const xcb_window_t* children = xcb_query_tree_children(tree);
    bool shown = false;
    for (int i = 0; i < xcb_query_tree_children_length(tree) && !shown; ++i) {
      shown = isViewable(children[i]) && ownerOf(children[i]) == pid;
    }
    // NOLINTNEXTLINE(cppcoreguidelines-no-malloc)
    std::free(tree);
    return shown;
  }

 private:
  [[nodiscard]] bool isViewable(xcb_window_t window) const {
    auto* attributes = xcb_get_window_attributes_reply(
        connection_, xcb_get_window_attributes(connection_, window), nullptr);
    const bool viewable = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
    // NOLINTNEXTLINE(cppcoreguidelines-no-malloc)
    std::free(attributes);
    return viewable;
  }
  [[nodiscard]] qint64 ownerOf(xcb_window_t window) const {
    auto* property = xcb_get_property_reply(
        connection_, xcb_get_property(connection_, 0, window, pidAtom_, XCB_ATOM_CARDINAL, 0, 1),
        nullptr);
    qint64 pid = -1;
    if (property && xcb_get_property_value_length(property) == 4) {
      pid = *static_cast<const uint32_t*>(xcb_get_property_value(property));
    }
    // NOLINTNEXTLINE(cppcoreguidelines-no-malloc)
    std::free(property);
    return pid;
  }

  xcb_connection_t* connection_;
  xcb_atom_t pidAtom_ = XCB_ATOM_NONE;
};

// The desktop the application runs on, with a home of its own: settings, the helper's
// runtime directory and the application's output live in one temporary directory.
class Desktop {
 public:
  Desktop()
      : dir_(bench::freshDir()),
        display_(QStringLiteral("Xvfb"),
                 {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                  QStringLiteral("0"), QStringLiteral("1920x1080x24"), QStringLiteral("-nolisten"),
                  QStringLiteral("tcp")}),
        bus_(QStringLiteral("dbus-daemon"),
             {QStringLiteral("--session"), QStringLiteral("--nofork"),
              QStringLiteral("--nopidfile"), QStringLiteral("--print-address=1")}),
        displayName_((QLatin1Char(':') + display_.firstLine()).toStdString()),
        connection_(QDBusConnection::connectToBus(bus_.firstLine(), QStringLiteral("panel"))),
        panel_(connection_),
        screen_(displayName_) {
    // As a user who has been through the first-run window, so that whichever benchmark runs
    // first measures the tray alone, and who has made a fan curve.
    std::filesystem::create_directories(dir_ / "config" / "zephro");
    std::ofstream(dir_ / "config" / "zephro" / "com.zephro.app.json")
        << R"({"hasSeenOnboarding":true,"fanCurves":{"data":")"
        << QByteArray(kCurve).toBase64().toStdString() << R"("}})";
    std::filesystem::create_directories(dir_ / "runtime");
    std::filesystem::permissions(dir_ / "runtime", std::filesystem::perms::owner_all);
  }
  ~Desktop() {
    stopHelper();
    QDBusConnection::disconnectFromBus(QStringLiteral("panel"));
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  Desktop(const Desktop&) = delete;
  Desktop& operator=(const Desktop&) = delete;

  [[nodiscard]] QProcessEnvironment environment() const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), QString::fromStdString(displayName_));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus_.firstLine());
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"),
                       QString::fromStdString((dir_ / "config").string()));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"),
                       QString::fromStdString((dir_ / "runtime").string()));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.remove(QStringLiteral("ZEPHRO_HELPER_SOCKET"));
    environment.remove(QStringLiteral("ZEPHRO_REDUCE_MOTION"));
    return environment;
  }
  [[nodiscard]] std::filesystem::path helperRuntime() const { return dir_ / "runtime" / "zephro"; }
  [[nodiscard]] std::filesystem::path logFile() const { return dir_ / "zephro.log"; }
  Panel& panel() { return panel_; }
  [[nodiscard]] const Display& screen() const { return screen_; }

  // The helper the application's launch check started, if it is running.
  [[nodiscard]] std::optional<qint64> helperPid() const {
    std::ifstream record(helperRuntime() / "helper-registration");
    std::string line;
    while (std::getline(record, line)) {
      if (line.rfind("pid=", 0) != 0) continue;
      const qint64 pid = std::atoll(line.c_str() + 4);
      std::error_code error;
      const auto exe = std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", error)
                           .filename()
                           .string();
      // A recorded pid may since belong to another program.
      if (!error && exe.rfind("com.zephro.helper", 0) == 0) return pid;
    }
    return std::nullopt;
  }

  void stopHelper() const {
    const auto pid = helperPid();
    if (!pid) return;
    ::kill(static_cast<pid_t>(*pid), SIGTERM);
    waiter().until([&] { return !std::filesystem::exists("/proc/" + std::to_string(*pid)); },
                   kQuitGuard);
  }

 private:
  std::filesystem::path dir_;
  Daemon display_;
  Daemon bus_;
  std::string displayName_;
  QDBusConnection connection_;
  Panel panel_;
  Display screen_;
};

Desktop* desktop = nullptr;

// One run of the zephro program, from its launch to its first picture and on.
class App {
 public:
  App() {
    process_.setProcessEnvironment(desktop->environment());
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.setStandardOutputFile(QString::fromStdString(desktop->logFile().string()),
                                   QIODevice::Append);
    launched_ = Clock::now();
    process_.start(QStringLiteral(ZEPHRO_BINARY),
                   {QStringLiteral("--service-manager"), QStringLiteral("development")});
    if (!process_.waitForStarted(30000)) throw std::runtime_error("zephro did not start");
    desktop->panel().expect(process_.processId());
  }
  ~App() {
    if (process_.state() == QProcess::NotRunning) return;
    // SIGTERM takes the application's own way out, which hands the fans back first.
    process_.terminate();
    if (!process_.waitForFinished(
            static_cast<int>(std::chrono::milliseconds(kQuitGuard).count()))) {
      process_.kill();
      process_.waitForFinished(10000);
    }
  }
  App(const App&) = delete;
  App& operator=(const App&) = delete;

  [[nodiscard]] qint64 pid() const { return process_.processId(); }
  [[nodiscard]] bool isRunning() const { return process_.state() == QProcess::Running; }

  // The time from the launch to the first picture a host could draw.
  std::optional<Millis> waitForFirstPicture() {
    const auto& sighting = desktop->panel().sighting();
    if (!waiter().until([&] { return sighting.pictured.has_value() || !isRunning(); },
                        kStartGuard) ||
        !sighting.pictured) {
      return std::nullopt;
    }
    return *sighting.pictured - launched_;
  }
  [[nodiscard]] std::optional<Millis> registeredAfter() const {
    const auto& sighting = desktop->panel().sighting();
    if (!sighting.registered) return std::nullopt;
    return *sighting.registered - launched_;
  }

  [[nodiscard]] bool showsPopover() const { return desktop->screen().showsWindowOf(pid()); }

 private:
  QProcess process_;
  Clock::time_point launched_;
};

std::string logTail() {
  std::ifstream log(desktop->logFile());
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(log, line)) lines.push_back(line);
  std::string tail;
  for (auto i = lines.size() > 20 ? lines.size() - 20 : 0; i < lines.size(); ++i) {
    tail += "\n  " + lines[i];
  }
  return tail;
}

void fail(benchmark::State& state, const std::string& what) {
  const std::string message = what + "; zephro's last lines:" + logTail();
  std::cerr << "app_bench: " << message << "\n";
  state.SkipWithError(message.c_str());
}

// The share of one core the processes used over the period, in percent.
struct CpuShare {
  double app = 0;
  double helper = -1;
};

std::optional<CpuShare> measureCpu(const App& app, std::chrono::seconds period) {
  const auto helper = desktop->helperPid();
  const auto appBefore = cpuTicks(app.pid());
  const auto helperBefore = helper ? cpuTicks(*helper) : std::nullopt;
  const auto start = Clock::now();
  waiter().pause(period);
  const auto appAfter = cpuTicks(app.pid());
  const auto helperAfter = helper ? cpuTicks(*helper) : std::nullopt;
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (!appBefore || !appAfter) return std::nullopt;
  const double tick = static_cast<double>(::sysconf(_SC_CLK_TCK));
  const auto percent = [&](long long ticks) { return 100.0 * ticks / tick / seconds; };
  CpuShare share;
  share.app = percent(*appAfter - *appBefore);
  if (helperBefore && helperAfter) share.helper = percent(*helperAfter - *helperBefore);
  return share;
}

void reportMemory(benchmark::State& state, const App& app, const std::string& suffix) {
  const std::string proc = "/proc/" + std::to_string(app.pid());
  state.counters["rss_MiB" + suffix] = mib(procKiB(proc + "/status", "VmRSS"));
  state.counters["pss_MiB" + suffix] = mib(procKiB(proc + "/smaps_rollup", "Pss"));
}

// Whether every fan of the emulated machine is as asked, asked of the helper the
// application started, as the application asks it.
bool everyFan(const std::function<bool(const FanInfoDTO&)>& condition) {
  HelperClientOptions options;
  options.connectionFactory = HelperClientOptions::connectingTo(
      (desktop->helperRuntime() / "com.zephro.helper.sock").string());
  HelperClient client(std::move(options));
  try {
    const auto fans = QCoro::waitFor(client.fetchFanInfo());
    return !fans.empty() && std::all_of(fans.begin(), fans.end(), condition);
  } catch (const std::exception& error) {
    std::cerr << "app_bench: the helper did not answer: " << error.what() << "\n";
    return false;
  }
}

bool fansSpin() {
  return everyFan([](const FanInfoDTO& fan) { return fan.currentRPM() > 0; });
}

void BM_StartToFirstPicture(benchmark::State& state) {
  std::vector<double> starts;
  std::vector<double> registrations;
  for ([[maybe_unused]] auto _ : state) {
    App app;
    const auto start = app.waitForFirstPicture();
    if (!start) return fail(state, "no picture came from the status item");
    state.SetIterationTime(std::chrono::duration<double>(*start).count());
    starts.push_back(start->count());
    if (const auto registered = app.registeredAfter()) registrations.push_back(registered->count());
  }
  std::sort(starts.begin(), starts.end());
  std::sort(registrations.begin(), registrations.end());
  state.counters["first_ms"] = starts.front();
  state.counters["median_ms"] = starts[starts.size() / 2];
  state.counters["max_ms"] = starts.back();
  if (!registrations.empty()) {
    state.counters["registered_median_ms"] = registrations[registrations.size() / 2];
  }
  state.SetLabel("launch to a drawable IconPixmap; goal <= 300 ms");
}
BENCHMARK(BM_StartToFirstPicture)
    ->Iterations(kLaunches)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void BM_PopoverClosed(benchmark::State& state) {
  const auto period = measuringPeriod();
  for ([[maybe_unused]] auto _ : state) {
    App app;
    if (!app.waitForFirstPicture()) return fail(state, "no picture came from the status item");
    waiter().pause(kSettle);
    const auto cpu = measureCpu(app, period);
    if (!cpu || !app.isRunning()) return fail(state, "zephro ended while measured");
    if (app.showsPopover()) return fail(state, "the popover was open");
    state.SetIterationTime(static_cast<double>(period.count()));
    state.counters["cpu_pct"] = cpu->app;
    state.counters["helper_cpu_pct"] = cpu->helper;
    reportMemory(state, app, "");
  }
  state.SetLabel("goals: cpu <= 0.2 %, rss <= 50 MiB");
}
BENCHMARK(BM_PopoverClosed)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// Asked on the bus as zephroctl asks it.
bool setMode(const QString& id) {
  auto message = QDBusMessage::createMethodCall(
      QStringLiteral("com.zephro.app"), QStringLiteral("/com/zephro/app"),
      QStringLiteral("org.freedesktop.Application"), QStringLiteral("ActivateAction"));
  message.setArguments({QStringLiteral("set-mode"),
                        QVariant::fromValue(QVariantList{QVariant::fromValue(QDBusVariant(id))}),
                        QVariantMap{}});
  const auto reply = desktop->panel().bus().call(message, QDBus::Block, 60000);
  if (reply.type() == QDBusMessage::ReplyMessage) return true;
  std::cerr << "app_bench: set-mode failed: " << reply.errorMessage().toStdString() << "\n";
  return false;
}

void BM_CurveFollowed(benchmark::State& state) {
  const auto period = measuringPeriod();
  for ([[maybe_unused]] auto _ : state) {
    App app;
    if (!app.waitForFirstPicture()) return fail(state, "no picture came from the status item");
    waiter().pause(kSettle);
    if (!setMode(QString::fromLatin1(kCurveID))) return fail(state, "the curve was not chosen");
    waiter().pause(kOpenSettle);
    const auto forced = [](const FanInfoDTO& fan) { return fan.mode() == FanMode::manual; };
    if (!everyFan(forced)) return fail(state, "the fans do not follow the curve");
    const auto cpu = measureCpu(app, period);
    if (!cpu || !app.isRunning()) return fail(state, "zephro ended while measured");
    if (app.showsPopover()) return fail(state, "the popover was open");
    if (!everyFan(forced)) return fail(state, "the fans stopped following the curve");
    state.SetIterationTime(static_cast<double>(period.count()));
    state.counters["cpu_pct"] = cpu->app;
    state.counters["helper_cpu_pct"] = cpu->helper;
  }
  state.SetLabel("a fan curve followed, popover closed; goal: cpu <= 0.1 %");
}
BENCHMARK(BM_CurveFollowed)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

void BM_PopoverOpen(benchmark::State& state) {
  const auto period = measuringPeriod();
  for ([[maybe_unused]] auto _ : state) {
    App app;
    if (!app.waitForFirstPicture()) return fail(state, "no picture came from the status item");
    waiter().pause(kSettle);
    // Where a panel at the top right of the screen would say the click was.
    desktop->panel().activate({1880, 12});
    if (!waiter().until([&] { return app.showsPopover(); }, kWindowGuard)) {
      return fail(state, "the popover did not open");
    }
    waiter().pause(kOpenSettle);
    if (!fansSpin()) return fail(state, "the fans were not turning");
    const auto cpu = measureCpu(app, period);
    if (!cpu || !app.isRunning()) return fail(state, "zephro ended while measured");
    if (!app.showsPopover()) return fail(state, "the popover closed while measured");
    state.SetIterationTime(static_cast<double>(period.count()));
    state.counters["cpu_pct"] = cpu->app;
    state.counters["helper_cpu_pct"] = cpu->helper;
    reportMemory(state, app, "");
    // What stays once the popover has been shown and closed again.
    desktop->panel().activate({1880, 12});
    if (!waiter().until([&] { return !app.showsPopover(); }, kWindowGuard)) {
      return fail(state, "the popover did not close");
    }
    waiter().pause(kSettle);
    reportMemory(state, app, "_closed_after");
  }
  state.SetLabel("fans turning; goal: cpu <= 1 %");
}
BENCHMARK(BM_PopoverOpen)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
  const QCoreApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  // The client's lines about the helper stay out of the report.
  const log::Capture capture;
  try {
    Desktop running;
    desktop = &running;
    benchmark::RunSpecifiedBenchmarks();
    desktop = nullptr;
  } catch (const std::exception& error) {
    std::cerr << "app_bench: " << error.what() << "\n";
    return 1;
  }
  benchmark::Shutdown();
  return 0;
}

#include "app_bench.moc"

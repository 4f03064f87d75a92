#include "platform/log/Log.h"

#include <sys/stat.h>
#include <sys/uio.h>
#include <syslog.h>
#include <systemd/sd-journal.h>

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <utility>

namespace zephro::log {
namespace {

std::mutex& sinkMutex() {
  static std::mutex mutex;
  return mutex;
}

Capture*& activeCapture() {
  static Capture* capture = nullptr;
  return capture;
}

std::string& programName() {
  static std::string name = "zephro";
  return name;
}

std::optional<Channel>& defaultChannel() {
  static std::optional<Channel> channel;
  return channel;
}

bool stderrIsJournal() {
  static const bool journal = isJournalStream(2, std::getenv("JOURNAL_STREAM"));
  return journal;
}

int priority(Level level) {
  switch (level) {
    case Level::error:
      return LOG_ERR;
    case Level::notice:
      return LOG_NOTICE;
    case Level::info:
      return LOG_INFO;
  }
  return LOG_NOTICE;
}

void writePlain(std::string_view line) {
  const std::string text(line);
  if (!stderrIsJournal()) syslog(LOG_NOTICE, "%s", text.c_str());
  std::fprintf(stderr, "%s\n", text.c_str());
}

bool sendToJournal(const Channel& channel, Level level, std::string_view line) {
  std::array fields{
      "MESSAGE=" + std::string(line),        "PRIORITY=" + std::to_string(priority(level)),
      "SYSLOG_IDENTIFIER=" + programName(),  "ZEPHRO_SUBSYSTEM=" + channel.subsystem,
      "ZEPHRO_CATEGORY=" + channel.category,
  };
  std::array<iovec, fields.size()> vectors{};
  std::transform(fields.begin(), fields.end(), vectors.begin(), [](std::string& field) {
    return iovec{field.data(), field.size()};
  });
  return sd_journal_sendv(vectors.data(), static_cast<int>(vectors.size())) >= 0;
}

void writeWithChannel(const Channel& channel, Level level, std::string_view line) {
  // Each line reaches the journal once: by sd_journal_send, or else by syslog,
  // or else by stderr when stderr is the journal.
  const bool sent = sendToJournal(channel, level, line);
  const std::string text(line);
  if (!sent && !stderrIsJournal()) syslog(priority(level), "%s", text.c_str());
  if (!sent || !stderrIsJournal()) std::fprintf(stderr, "%s\n", text.c_str());
}

}  // namespace

bool isJournalStream(int fd, const char* journalStream) {
  if (journalStream == nullptr) return false;
  std::uintmax_t device = 0;
  std::uintmax_t inode = 0;
  int consumed = 0;
  if (std::sscanf(journalStream, "%" SCNuMAX ":%" SCNuMAX "%n", &device, &inode, &consumed) != 2 ||
      journalStream[consumed] != '\0') {
    return false;
  }
  struct stat info {};
  return ::fstat(fd, &info) == 0 && info.st_dev == device && info.st_ino == inode;
}

void setProgramName(std::string_view name) {
  const std::lock_guard lock(sinkMutex());
  programName() = std::string(name);
  // syslog keeps the pointer, so it must point at storage that outlives the program.
  openlog(programName().c_str(), LOG_PID, LOG_USER);
}

void setDefaultChannel(Channel channel) {
  const std::lock_guard lock(sinkMutex());
  defaultChannel() = std::move(channel);
}

void write(std::string_view line) {
  const std::lock_guard lock(sinkMutex());
  const std::optional<Channel>& channel = defaultChannel();
  if (Capture* capture = activeCapture()) {
    capture->append({channel.value_or(Channel{}), Level::notice, std::string(line)});
    return;
  }
  if (channel) {
    writeWithChannel(*channel, Level::notice, line);
  } else {
    writePlain(line);
  }
}

void write(const Channel& channel, Level level, std::string_view line) {
  const std::lock_guard lock(sinkMutex());
  if (Capture* capture = activeCapture()) {
    capture->append({channel, level, std::string(line)});
    return;
  }
  writeWithChannel(channel, level, line);
}

Capture::Capture() {
  const std::lock_guard lock(sinkMutex());
  previous_ = activeCapture();
  activeCapture() = this;
}

Capture::~Capture() {
  const std::lock_guard lock(sinkMutex());
  activeCapture() = previous_;
}

void Capture::append(Entry entry) {
  const std::lock_guard lock(mutex_);
  entries_.push_back(std::move(entry));
}

std::vector<std::string> Capture::lines() const {
  const std::lock_guard lock(mutex_);
  std::vector<std::string> lines;
  lines.reserve(entries_.size());
  for (const Entry& entry : entries_) lines.push_back(entry.line);
  return lines;
}

std::vector<Capture::Entry> Capture::entries() const {
  const std::lock_guard lock(mutex_);
  return entries_;
}

std::vector<std::string> Capture::linesStartingWith(std::string_view prefix) const {
  const std::lock_guard lock(mutex_);
  std::vector<std::string> matching;
  for (const Entry& entry : entries_) {
    if (entry.line.starts_with(prefix)) matching.push_back(entry.line);
  }
  return matching;
}

bool Capture::contains(std::string_view line) const {
  const std::lock_guard lock(mutex_);
  return std::any_of(entries_.begin(), entries_.end(),
                     [line](const Entry& entry) { return entry.line == line; });
}

void Capture::clear() {
  const std::lock_guard lock(mutex_);
  entries_.clear();
}

}  // namespace zephro::log

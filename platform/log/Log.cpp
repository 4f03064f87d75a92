#include "platform/log/Log.h"

#include <sys/stat.h>
#include <syslog.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>

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

bool stderrIsJournal() {
  static const bool journal = isJournalStream(2, std::getenv("JOURNAL_STREAM"));
  return journal;
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

void write(std::string_view line) {
  const std::lock_guard lock(sinkMutex());
  if (Capture* capture = activeCapture()) {
    capture->append(line);
    return;
  }
  const std::string text(line);
  if (!stderrIsJournal()) syslog(LOG_NOTICE, "%s", text.c_str());
  std::fprintf(stderr, "%s\n", text.c_str());
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

void Capture::append(std::string_view line) {
  const std::lock_guard lock(mutex_);
  lines_.emplace_back(line);
}

std::vector<std::string> Capture::lines() const {
  const std::lock_guard lock(mutex_);
  return lines_;
}

std::vector<std::string> Capture::linesStartingWith(std::string_view prefix) const {
  const std::lock_guard lock(mutex_);
  std::vector<std::string> matching;
  std::copy_if(lines_.begin(), lines_.end(), std::back_inserter(matching),
               [prefix](const std::string& line) { return line.starts_with(prefix); });
  return matching;
}

bool Capture::contains(std::string_view line) const {
  const std::lock_guard lock(mutex_);
  return std::find(lines_.begin(), lines_.end(), line) != lines_.end();
}

void Capture::clear() {
  const std::lock_guard lock(mutex_);
  lines_.clear();
}

}  // namespace zephro::log

#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace zephro::log {

// Names the program in the system log (syslog's ident). Call once from main.
void setProgramName(std::string_view name);

// The one way a line reaches the log, exactly once: to stderr alone when stderr
// is the journal (a systemd service), else to syslog(3), which journald collects,
// and to stderr for whoever started the program. While a Capture is alive the
// line goes to it instead, so tests can assert exact lines without touching the
// system log.
void write(std::string_view line);

// Whether the descriptor is the journal stream that $JOURNAL_STREAM ("DEVICE:INODE")
// names; false when the variable is absent or malformed.
[[nodiscard]] bool isJournalStream(int fd, const char* journalStream);

// Collects every line written while it lives. Captures nest: the innermost one
// receives the lines. Thread-safe: lines may come from any thread.
class Capture {
 public:
  Capture();
  ~Capture();
  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;

  [[nodiscard]] std::vector<std::string> lines() const;
  // Lines that start with the prefix, in order.
  [[nodiscard]] std::vector<std::string> linesStartingWith(std::string_view prefix) const;
  [[nodiscard]] bool contains(std::string_view line) const;
  void clear();

 private:
  friend void write(std::string_view line);
  void append(std::string_view line);

  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
  Capture* previous_;
};

}  // namespace zephro::log

#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace zephro::log {

// Where a line belongs: the journal carries both as ZEPHRO_SUBSYSTEM and
// ZEPHRO_CATEGORY, so one subsystem's lines can be read back on their own.
struct Channel {
  std::string subsystem;
  std::string category;

  friend bool operator==(const Channel&, const Channel&) = default;
};

// Maps to the syslog priorities LOG_ERR, LOG_NOTICE and LOG_INFO.
enum class Level { error, notice, info };

// Names the program in the system log (syslog's ident, the journal's
// SYSLOG_IDENTIFIER). Call once from main.
void setProgramName(std::string_view name);

// The channel that write(line) uses from now on. Without one (the helper),
// write(line) keeps to syslog and stderr.
void setDefaultChannel(Channel channel);

// The one way a line reaches the log, exactly once. With a default channel it is
// write(defaultChannel, Level::notice, line). Without one: to stderr alone when
// stderr is the journal (a systemd service), else to syslog(3), which journald
// collects, and to stderr for whoever started the program. While a Capture is
// alive the line goes to it instead, so tests can assert exact lines without
// touching the system log.
void write(std::string_view line);

// Sends the line to the journal with its channel, and copies it to stderr unless
// stderr is the journal already. Where there is no journald (a container) the line
// goes to syslog instead, as write(line) would. A live Capture takes it instead.
void write(const Channel& channel, Level level, std::string_view line);

// Whether the descriptor is the journal stream that $JOURNAL_STREAM ("DEVICE:INODE")
// names; false when the variable is absent or malformed.
[[nodiscard]] bool isJournalStream(int fd, const char* journalStream);

// Collects every line written while it lives. Captures nest: the innermost one
// receives the lines. Thread-safe: lines may come from any thread.
class Capture {
 public:
  // A captured line with where it was sent; the channel is empty for write(line)
  // without a default channel.
  struct Entry {
    Channel channel;
    Level level = Level::notice;
    std::string line;

    friend bool operator==(const Entry&, const Entry&) = default;
  };

  Capture();
  ~Capture();
  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;

  [[nodiscard]] std::vector<std::string> lines() const;
  [[nodiscard]] std::vector<Entry> entries() const;
  // Lines that start with the prefix, in order.
  [[nodiscard]] std::vector<std::string> linesStartingWith(std::string_view prefix) const;
  [[nodiscard]] bool contains(std::string_view line) const;
  void clear();

 private:
  friend void write(std::string_view line);
  friend void write(const Channel& channel, Level level, std::string_view line);
  void append(Entry entry);

  mutable std::mutex mutex_;
  std::vector<Entry> entries_;
  Capture* previous_;
};

}  // namespace zephro::log

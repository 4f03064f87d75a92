#pragma once

#include <sys/types.h>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include <utility>

namespace zephro::smc {

// A file that several processes share: each holds lock() around a read-modify-write,
// replaces the file atomically (temp file + rename) and re-reads it only when it
// changed since it last saw it. Changes are counted in the lock file beside it, so
// telling whether to re-read costs one small read and never depends on timestamps.
// None of its files is ever opened through a symbolic link.
class StateFile {
 public:
  explicit StateFile(std::filesystem::path path);
  ~StateFile();
  StateFile(const StateFile&) = delete;
  StateFile& operator=(const StateFile&) = delete;

  // The cross-process lock, held while the guard lives.
  class Guard {
   public:
    explicit Guard(int fd);
    ~Guard();
    Guard(Guard&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
    Guard& operator=(Guard&&) = delete;

   private:
    int fd_;
  };
  [[nodiscard]] Guard lock() const { return Guard(lockFd_); }

  // unreadable: something that cannot be opened (or is a link) stands in the file's place.
  enum class Change { unchanged, missing, unreadable, changed };
  struct Reading {
    Change change = Change::unchanged;
    std::string content;
  };
  // What the file holds, when it differs from what this object last read or stored.
  [[nodiscard]] Reading readIfChanged();

  // Replaces the file's content atomically. Throws std::system_error on failure.
  void store(std::string_view content);

  [[nodiscard]] const std::filesystem::path& path() const { return path_; }

 private:
  [[nodiscard]] std::uint64_t storedGeneration() const;

  std::filesystem::path path_;
  int lockFd_ = -1;
  std::optional<std::uint64_t> seen_;
};

}  // namespace zephro::smc

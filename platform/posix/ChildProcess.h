#pragma once

#include <chrono>
#include <cstring>
#include <functional>
#include <optional>
#include <span>
#include <type_traits>

namespace zephro::proc {

// Runs `work` in a forked child and copies back the bytes it fills in. False when
// the child did not finish by `deadline` or failed; a child still running then is
// killed and reaped.
//
// For reads another process controls: a read of its /proc entries or of its
// executable can block in the kernel for as long as that process wants (its pages
// or its file may live on a file system it serves itself). A thread cannot be taken
// out of such a read, but a process can be killed.
[[nodiscard]] bool runInChild(std::chrono::steady_clock::time_point deadline,
                              std::span<std::byte> result,
                              const std::function<void(std::span<std::byte>)>& work);

// The typed form: the child's answer, or nullopt.
template <typename T, typename Work>
requires std::is_trivially_copyable_v<T>
[[nodiscard]] std::optional<T> runInChild(std::chrono::steady_clock::time_point deadline,
                                          Work&& work) {
  T answer{};
  const bool finished = runInChild(deadline, std::as_writable_bytes(std::span(&answer, 1)),
                                   [&work](std::span<std::byte> out) {
                                     const T value = work();
                                     std::memcpy(out.data(), &value, sizeof value);
                                   });
  if (!finished) return std::nullopt;
  return answer;
}

}  // namespace zephro::proc

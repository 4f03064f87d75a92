#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace zephro::xpc {

// A frame is a 4-byte big-endian length followed by that many bytes of payload.
inline constexpr std::size_t kFrameHeaderSize = 4;
// Every message of the protocol is far smaller; the limit keeps a local user from
// making the root daemon allocate at will.
inline constexpr std::size_t kMaxFramePayload = std::size_t{64} * 1024;

[[nodiscard]] std::vector<std::uint8_t> encodeFrame(std::span<const std::uint8_t> payload);

// Cuts a byte stream into frame payloads. Feed it what the socket gave, then take
// payloads until none is complete.
class FrameDecoder {
 public:
  enum class Status { ok, oversized, empty };

  explicit FrameDecoder(std::size_t maxPayload = kMaxFramePayload) : maxPayload_(maxPayload) {}

  void feed(std::span<const std::uint8_t> bytes);
  // The next whole payload, if one is buffered. After `oversized` or `empty` (a zero
  // length) the stream cannot be trusted any more; the caller drops it.
  [[nodiscard]] std::optional<std::vector<std::uint8_t>> next();
  [[nodiscard]] Status status() const { return status_; }
  // The length the current frame announced (valid once its header has arrived).
  [[nodiscard]] std::size_t announcedLength() const { return announced_; }
  // True while some bytes of a frame have arrived but not all of it.
  [[nodiscard]] bool inPartialFrame() const { return !buffer_.empty(); }

 private:
  std::size_t maxPayload_;
  std::vector<std::uint8_t> buffer_;
  std::size_t announced_ = 0;
  Status status_ = Status::ok;
};

}  // namespace zephro::xpc

#include "platform/xpc/Frame.h"

#include <stdexcept>

namespace zephro::xpc {

std::vector<std::uint8_t> encodeFrame(std::span<const std::uint8_t> payload) {
  if (payload.size() > kMaxFramePayload) throw std::length_error("frame payload too large");
  const auto size = static_cast<std::uint32_t>(payload.size());
  std::vector<std::uint8_t> frame;
  frame.reserve(kFrameHeaderSize + payload.size());
  for (int shift = 24; shift >= 0; shift -= 8)
    frame.push_back(static_cast<std::uint8_t>(size >> shift));
  frame.insert(frame.end(), payload.begin(), payload.end());
  return frame;
}

void FrameDecoder::feed(std::span<const std::uint8_t> bytes) {
  buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
}

std::optional<std::vector<std::uint8_t>> FrameDecoder::next() {
  if (status_ != Status::ok || buffer_.size() < kFrameHeaderSize) return std::nullopt;
  announced_ = (std::size_t{buffer_[0]} << 24) | (std::size_t{buffer_[1]} << 16) |
               (std::size_t{buffer_[2]} << 8) | std::size_t{buffer_[3]};
  if (announced_ == 0) {
    status_ = Status::empty;
    return std::nullopt;
  }
  if (announced_ > maxPayload_) {
    status_ = Status::oversized;
    return std::nullopt;
  }
  if (buffer_.size() < kFrameHeaderSize + announced_) return std::nullopt;
  const auto begin = buffer_.begin() + kFrameHeaderSize;
  std::vector<std::uint8_t> payload(begin, begin + static_cast<std::ptrdiff_t>(announced_));
  buffer_.erase(buffer_.begin(), begin + static_cast<std::ptrdiff_t>(announced_));
  return payload;
}

}  // namespace zephro::xpc

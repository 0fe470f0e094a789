#include "ServiceFrames.h"

#include <cstdint>

namespace frames {

std::optional<std::string> encodeFrame(std::string_view payload) {
    if (payload.size() > frameLimit)
        return std::nullopt;
    auto length = std::uint32_t(payload.size());
    std::string frame;
    frame.reserve(headerBytes + payload.size());
    for (int shift = 0; shift < 32; shift += 8)
        frame.push_back(char((length >> shift) & 0xFF));
    frame.append(payload);
    return frame;
}

void FrameReader::feed(std::string_view bytes) {
    if (broken_)
        return;
    // Consumed bytes are dropped before growing, so the buffer holds at most one
    // unfinished frame plus what was just fed.
    if (offset_ > 0) {
        buffer_.erase(0, offset_);
        offset_ = 0;
    }
    buffer_.append(bytes);
}

std::optional<std::string> FrameReader::nextFrame() {
    if (broken_ || buffer_.size() - offset_ < headerBytes)
        return std::nullopt;
    std::uint32_t length = 0;
    for (std::size_t i = 0; i < headerBytes; ++i)
        length |= std::uint32_t(static_cast<unsigned char>(buffer_[offset_ + i])) << (8 * i);
    if (length > limit_) {
        broken_ = true;
        buffer_.clear();
        offset_ = 0;
        return std::nullopt;
    }
    if (buffer_.size() - offset_ - headerBytes < length)
        return std::nullopt;
    std::string payload = buffer_.substr(offset_ + headerBytes, length);
    offset_ += headerBytes + length;
    return payload;
}

} // namespace frames

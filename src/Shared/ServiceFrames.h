#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// The sensor service's byte stream: frames of a 4-byte little-endian length and a
// payload. A client sends one frame naming the method per call; the agent first sends a
// greeting naming the service, then one reply frame per call, in call order.
namespace frames {

// Far above the largest reply a client accepts, so that limit stays the client's to
// test, yet low enough that no peer can make the other end allocate without bound.
inline constexpr std::size_t frameLimit = std::size_t(1) << 20;
inline constexpr std::size_t headerBytes = 4;

inline constexpr std::string_view fetchSnapshotMethod = "fetchSnapshotWithReply:";

// Nothing when the payload exceeds frameLimit.
std::optional<std::string> encodeFrame(std::string_view payload);

// Cuts a received byte stream into payloads. It keeps only bytes actually received:
// a header is never trusted to size a buffer.
class FrameReader {
  public:
    // A reader for payloads of at most `limit` bytes, which is at most frameLimit.
    explicit FrameReader(std::size_t limit = frameLimit) : limit_(limit) {}

    void feed(std::string_view bytes);
    // The next whole payload; nothing while incomplete, and always nothing once broken.
    std::optional<std::string> nextFrame();
    // A header announced more than the limit; the stream cannot be resynchronised.
    bool isBroken() const { return broken_; }

  private:
    std::size_t limit_;
    std::string buffer_;
    std::size_t offset_ = 0;
    bool broken_ = false;
};

} // namespace frames

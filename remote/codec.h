#pragma once
// Messages to frames and back. A frame is a 4-byte little-endian length and one CBOR-encoded
// message (RFC 8949, through nlohmann::json). Decoding takes untrusted bytes: anything that is
// not exactly a message of this protocol version (a wrong type, a missing field, a value out of
// range, a list longer than a frame can honestly carry) is an error, never a crash or a guess.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "remote/messages.h"

namespace movra::remote {

// The whole frame: length prefix and body.
std::vector<uint8_t> EncodeFrame(const Message& message);
// The body alone (what follows the length prefix).
std::vector<uint8_t> EncodeBody(const Message& message);

struct DecodeError {
    std::string what;  // for the log line that drops the peer (ASCII, no user data)
};
// One body into a message; `error` says why not.
std::optional<Message> DecodeBody(std::span<const uint8_t> body, DecodeError& error);

// Cuts a byte stream into frames. Feed it what the pipe read; take messages while it has them.
class FrameReader {
  public:
    explicit FrameReader(uint32_t maxFrameBytes = kMaxFrameBytes);
    // Appends bytes read from the peer.
    void Feed(std::span<const uint8_t> bytes);
    enum class Status { kMessage, kNeedMore, kError };
    // kMessage: `out` holds the next message. kError: the stream is broken for good (an
    // announced length of 0 or beyond the limit, a body that does not decode); `error` says why.
    Status Next(Message& out, DecodeError& error);
    // Bytes the next frame still lacks (at least 1 when kNeedMore), so a reader can size its
    // read without passing a frame boundary by much.
    size_t Wanted() const;

  private:
    uint32_t max_;
    std::vector<uint8_t> buf_;
    size_t start_ = 0;
    bool broken_ = false;
};

}  // namespace movra::remote

#include "remote_fuzz_check.h"

#include <span>
#include <vector>

#include "remote/codec.h"

namespace movra::remote {
namespace {

// A message's body must be a fixed point: encoded, decoded and encoded again, the same bytes.
std::string CheckFixedPoint(const Message& m) {
    const std::vector<uint8_t> body = EncodeBody(m);
    DecodeError error;
    std::optional<Message> again = DecodeBody(body, error);
    if (!again) return "a re-encoded message does not decode: " + error.what;
    if (EncodeBody(*again) != body) return "a re-encoded message decodes to another";
    return std::string();
}

struct Read {
    std::vector<std::vector<uint8_t>> bodies;  // of the messages, re-encoded
    bool broken = false;
};

// A small limit, so that the fuzzer meets it as well as frames within it.
constexpr uint32_t kLimit = 1 << 16;

Read ReadStream(std::span<const uint8_t> in, bool pieces) {
    Read out;
    FrameReader reader(kLimit);
    size_t at = 0;
    for (;;) {
        if (at < in.size()) {
            const size_t n = pieces ? std::min(reader.Wanted(), in.size() - at) : in.size();
            reader.Feed(in.subspan(at, n));
            at += n;
        }
        Message m;
        DecodeError error;
        FrameReader::Status s;
        while ((s = reader.Next(m, error)) == FrameReader::Status::kMessage)
            out.bodies.push_back(EncodeBody(m));
        if (s == FrameReader::Status::kError) {
            out.broken = true;
            return out;
        }
        if (at >= in.size()) return out;
    }
}

}  // namespace

std::string CheckRemoteInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> in(data, size);
    DecodeError error;
    if (std::optional<Message> m = DecodeBody(in, error)) {
        std::string failure = CheckFixedPoint(*m);
        if (!failure.empty()) return failure;
    } else if (error.what.empty()) {
        return "a refused body gives no reason";
    }

    const Read whole = ReadStream(in, false), pieces = ReadStream(in, true);
    if (whole.bodies != pieces.bodies || whole.broken != pieces.broken)
        return "the stream reads differently in pieces";
    for (const std::vector<uint8_t>& body : whole.bodies) {
        std::optional<Message> m = DecodeBody(body, error);
        if (!m) return "a re-encoded message does not decode: " + error.what;
        std::string failure = CheckFixedPoint(*m);
        if (!failure.empty()) return failure;
    }
    return std::string();
}

}  // namespace movra::remote

#pragma once
// One input of the message decoder's fuzz target, shared with the test that replays the corpus.
#include <cstddef>
#include <cstdint>
#include <string>

namespace movra::remote {

// Takes `data` both as one frame body and as a stream of frames (all at once, and in the pieces a
// reader asks for), then checks what must hold for any input: both ways of reading the stream
// agree, and every message decoded re-encodes to a body that decodes to the same bytes again.
// Returns an empty string when everything holds, else what failed.
std::string CheckRemoteInput(const uint8_t* data, size_t size);

}  // namespace movra::remote

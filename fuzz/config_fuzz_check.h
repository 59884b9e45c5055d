#pragma once
// One input of the configuration reader's fuzz target, shared with the test that replays the
// corpus.
#include <cstddef>
#include <cstdint>
#include <string>

namespace movra {

// Loads `data` as the bytes of Movra.cfg into a fresh model, then checks what must hold for any
// input: at most the capped number of messages, no word longer than the cut, and a saved copy of
// the result that reads back without a message into the same text. Returns an empty string when
// everything holds, else what failed.
std::string CheckConfigInput(const uint8_t* data, size_t size);

}  // namespace movra

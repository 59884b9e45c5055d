#pragma once
#include <cstdint>

namespace movra {

// Flags that travel with every event line from a worker to the window.
enum LogFlags : uint32_t {
    LOG_AUX = 0x001,
    LOG_WARN = 0x002,
    LOG_LIMIT = 0x004,
    LOG_INFO = 0x008,
    LOG_DISCONNECTED = 0x010,
    LOG_CONNECTED = 0x020,
    LOG_ERROR = 0x040,
    EXIT_PENDING = 0x080,
    LOG_STATUS = 0x100,
    LOG_MODE = 0x200,
};

}  // namespace movra

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

// The combinations the workers send.
// A failure that ends the connection (0x50).
constexpr uint32_t LOG_FATAL = LOG_ERROR | LOG_DISCONNECTED;
// A worker ended normally, or a worker that was asked to stop has ended (0x18).
constexpr uint32_t LOG_DONE = LOG_INFO | LOG_DISCONNECTED;
// The control run disconnected on its stop request (0x12).
constexpr uint32_t LOG_STOPPED = LOG_WARN | LOG_DISCONNECTED;
// Connected to the object; the control run still shows the disconnected state (0x19).
constexpr uint32_t LOG_OK_DISCONNECTED = LOG_AUX | LOG_INFO | LOG_DISCONNECTED;
// Logged in, or the import connected to the object (0x29).
constexpr uint32_t LOG_OK_CONNECTED = LOG_AUX | LOG_INFO | LOG_CONNECTED;
// A limit written, or an imported item taken over (0x05).
constexpr uint32_t LOG_LIMIT_OK = LOG_LIMIT | LOG_AUX;
// A user fell asleep or woke up (0x03).
constexpr uint32_t LOG_SLEEP = LOG_WARN | LOG_AUX;

}  // namespace movra

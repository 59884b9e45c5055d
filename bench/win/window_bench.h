#pragma once
// What the in-process window benchmarks share: a connector that never reaches a server (the
// window is driven by hand), a message pump and a millisecond stopwatch.
#include <windows.h>

#include <chrono>
#include <memory>

#include "engine/tiserver.h"

namespace movra::bench {

using Steady = std::chrono::steady_clock;

class NoServer : public TiConnector {
  public:
    std::unique_ptr<TiServer> Connect(const Text&) override {
        throw TiError(static_cast<int32_t>(0x80040154));
    }
};

inline void Pump() {
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&m);
        DispatchMessageW(&m);
    }
}

inline double Ms(Steady::time_point from) {
    return std::chrono::duration<double, std::milli>(Steady::now() - from).count();
}

}  // namespace movra::bench

// The machine-wide regulator place as a named mutex: one holder at a time across threads (the
// same holds across processes), free again after a release and after a holder that vanished.
#include <gtest/gtest.h>

#include <thread>

#include "engine/win/regulator_mutex.h"

namespace movra {
namespace {

constexpr wchar_t kName[] = L"Global\\MovraRegulatorTest";

bool TryOnAnotherThread() {
    bool got = false;
    std::thread([&] {
        RegulatorMutex other(kName);
        got = other.TryHold();
        if (got) other.Release();
    }).join();
    return got;
}

TEST(RegulatorMutex, OneHolderAtATime) {
    RegulatorMutex place(kName);
    ASSERT_TRUE(place.TryHold());
    EXPECT_FALSE(TryOnAnotherThread());
    place.Release();
    EXPECT_TRUE(TryOnAnotherThread());
}

TEST(RegulatorMutex, AHolderThatEndedWithoutReleasingLeavesItFree) {
    // A thread that holds and ends: its ownership is abandoned, and the place is free.
    std::thread([] {
        static RegulatorMutex vanished(kName);
        ASSERT_TRUE(vanished.TryHold());
    }).join();
    EXPECT_TRUE(TryOnAnotherThread());
}

}  // namespace
}  // namespace movra

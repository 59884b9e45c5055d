// The borrowing option end to end: Movra's control cycle against TiSim's core in simulated time
// on the saturated scenario (heavy downloads in one group, the other groups idle), measured with
// the report's figures against the weighted max-min fair share with borrowing.
#include <gtest/gtest.h>

#include "tools/report/play.h"

namespace movra::report {
namespace {

PlayFigures PlaySaturated(int borrowing) {
    PlaySetup setup;
    setup.cfg = MOVRA_SCENARIOS "/saturated.cfg";
    setup.cycles = 400;
    setup.adjust = [borrowing](Model& m) { m.settings.ChanalBorrowing = borrowing; };
    PlayFigures f;
    EXPECT_EQ(Play(tisim::LoadScenarioFile(FromUtf8(MOVRA_SCENARIOS "/saturated.tisim")), setup, f,
                   nullptr),
              0);
    return f;
}

TEST(BorrowingRun, SaturatedChannelIsUsedAndSharedFairlyWithoutFlapping) {
    const PlayFigures on = PlaySaturated(1);
    EXPECT_GE(on.conservationIn, 95.0);
    EXPECT_GE(on.conservationOut, 95.0);
    EXPECT_LT(on.borrowMean, 10.0);
    EXPECT_LT(on.borrowP95, 30.0);
    // Steady downloads: once the limits are found nothing is rewritten.
    EXPECT_LT(on.writesPerCycle, 0.1);

    // The idle groups' shares stay unused without the option.
    const PlayFigures off = PlaySaturated(0);
    EXPECT_LT(off.conservationIn, 50.0);
}

}  // namespace
}  // namespace movra::report

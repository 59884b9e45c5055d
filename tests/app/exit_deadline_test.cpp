#include "app/exit_deadline.h"

#include <gtest/gtest.h>

namespace movra {
namespace {

using Step = ExitDeadline::Step;

class ExitDeadlineTest : public ::testing::Test {
  protected:
    int64_t now = 5000;
    ExitDeadline exit{[this] { return now; }};
};

TEST_F(ExitDeadlineTest, BoundRunsFromTheFirstRequestAndASecondEndsAtOnce) {
    now += 3600000;  // time before the exit counts for nothing
    EXPECT_EQ(exit.Check(), Step::kWait);
    EXPECT_EQ(exit.Request(), Step::kWait);
    EXPECT_TRUE(exit.Begun());
    now += kExitBoundMs - 1;
    EXPECT_EQ(exit.Check(), Step::kWait);
    EXPECT_EQ(exit.RemainingMs(), 1);
    now += 1;
    EXPECT_EQ(exit.Check(), Step::kEndProcess);
    EXPECT_EQ(exit.RemainingMs(), 0);

    ExitDeadline again{[this] { return now; }};
    EXPECT_EQ(again.Request(), Step::kWait);
    EXPECT_EQ(again.Request(), Step::kEndProcess);  // Exit chosen again, however soon
}

TEST_F(ExitDeadlineTest, SessionEndTakesTheSoonerOfBothBounds) {
    // Before any exit: the session's bound from its notice, and Exit meanwhile ends at once.
    exit.SessionEnds();
    EXPECT_TRUE(exit.Begun());
    now += kSessionEndBoundMs - 1;
    EXPECT_EQ(exit.Check(), Step::kWait);
    now += 1;
    EXPECT_EQ(exit.Check(), Step::kEndProcess);

    ExitDeadline late{[this] { return now; }};
    late.Request();
    now += kExitBoundMs - 5000;
    late.SessionEnds();  // the exit's own bound comes first: it is not extended
    EXPECT_EQ(late.RemainingMs(), 5000);

    ExitDeadline early{[this] { return now; }};
    early.Request();
    now += 1000;
    early.SessionEnds();  // the session's is sooner: the exit is shortened to it
    EXPECT_EQ(early.RemainingMs(), kSessionEndBoundMs);
    EXPECT_EQ(early.Request(), Step::kEndProcess);
}

}  // namespace
}  // namespace movra

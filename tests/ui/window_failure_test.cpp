#include "ui/window_failure.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "core/model.h"
#include "recording_link.h"

namespace movra {
namespace {

using testing::LinkEvent;
using testing::RecordingLink;

// The link is process-wide: every test leaves it empty.
struct LinkScope {
    explicit LinkScope(WindowLink* link) { SetWindowFailureLink(link); }
    ~LinkScope() { SetWindowFailureLink(nullptr); }
};

int Neutral() {
    return -7;
}

TEST(WindowFailure, AnEscapingFailureBecomesOneErrorLineAndTheNeutralAnswer) {
    RecordingLink link;
    LinkScope scope(&link);
    EXPECT_EQ(GuardProcedure([] { return 3; }, Neutral), 3);
    EXPECT_TRUE(link.Events().empty());

    EXPECT_EQ(
        GuardProcedure([]() -> int { throw ListIndexError("user index out of range"); }, Neutral),
        -7);
    EXPECT_EQ(GuardProcedure([]() -> int { throw 42; }, Neutral), -7);
    EXPECT_EQ(link.Events(),
              (std::vector<LinkEvent>{{LinkEvent::kLine, LOG_ERROR,
                                       u"Внутренняя ошибка окна: user index out of range."},
                                      {LinkEvent::kLine, LOG_ERROR, u"Внутренняя ошибка окна."}}));
}

TEST(WindowFailure, WithoutALinkTheFailureIsDroppedQuietly) {
    EXPECT_EQ(GuardProcedure([]() -> int { throw std::runtime_error("x"); }, Neutral), -7);
}

// The main window logs through its own procedure: when that procedure fails too, the second
// failure must not be logged through it again, nor escape, nor silence later failures.
class FailingLog : public RecordingLink {
  public:
    void LogLine(uint32_t flags, const Text& text) override {
        RecordingLink::LogLine(flags, text);
        if (failInside)
            GuardProcedure([]() -> int { throw std::runtime_error("nested"); }, Neutral);
        if (throwOut) throw std::runtime_error("log gone");
    }
    bool failInside = false;
    bool throwOut = false;
};

TEST(WindowFailure, AFailureWhileLoggingOneNeitherRecursesNorEscapesNorSilencesTheNext) {
    FailingLog link;
    LinkScope scope(&link);
    link.failInside = true;
    GuardProcedure([]() -> int { throw std::runtime_error("first"); }, Neutral);
    EXPECT_EQ(link.Lines(), std::vector<Text>{u"Внутренняя ошибка окна: first."});

    link.failInside = false;
    link.throwOut = true;
    EXPECT_EQ(GuardProcedure([]() -> int { throw std::runtime_error("second"); }, Neutral), -7);
    link.throwOut = false;
    GuardProcedure([]() -> int { throw std::runtime_error("third"); }, Neutral);
    EXPECT_EQ(link.Lines(), (std::vector<Text>{u"Внутренняя ошибка окна: first.",
                                               u"Внутренняя ошибка окна: second.",
                                               u"Внутренняя ошибка окна: third."}));
}

}  // namespace
}  // namespace movra

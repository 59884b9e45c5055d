#pragma once
// Shared set-up of the engine tests: a model on a manual clock, a recorded window, a fake
// server and the worker events in their start-up state.
#include <gtest/gtest.h>

#include <memory>
#include <utility>
#include <vector>

#include "engine/control_run.h"
#include "core/model.h"
#include "fake_server.h"
#include "core/log_flags.h"
#include "recording_link.h"

namespace movra::testing {

using Line = std::pair<uint32_t, Text>;

inline std::vector<Line> LinesOf(const RecordingLink& link) {
    std::vector<Line> r;
    for (const auto& e : link.Events())
        if (e.kind == LinkEvent::kLine) r.emplace_back(e.flags, e.text);
    return r;
}

inline bool HasLine(const RecordingLink& link, uint32_t flags, const Text& text) {
    for (const auto& l : LinesOf(link))
        if (l.first == flags && l.second == text) return true;
    return false;
}

inline int CountText(const RecordingLink& link, const Text& text) {
    int n = 0;
    for (const auto& l : LinesOf(link)) n += l.second == text;
    return n;
}

class EngineFixture : public ::testing::Test {
  protected:
    ManualClock clock{1796126400};
    Model m{clock};
    RecordingLink link;
    FakeConnector conn;
    std::shared_ptr<FakeState> srv = conn.state;
    WorkerEvents ev;

    void SetUp() override {
        ev.idle.Set();  // the window signals it once at start-up
        m.SetWindow(&link);
        Model::Guard g(m);
        m.settings.RefreshTimer_msec = 1000;
        m.settings.Server = u"ti.local";
    }

    // A monitored user and its twin on the server, active just now.
    FakeUser& AddUser(const Text& name) {
        {
            Model::Guard g(m);
            m.AddUserByName(name);
        }
        FakeUser& u = srv->users[name];
        u.activity = Variant::Date(SystemTimeToOleDate(clock.LocalNow()));
        return u;
    }

    CTiUserData UserRec(const Text& name) {
        Model::Guard g(m);
        return m.User(m.FindUserByName(name));
    }

    template <class F>
    void Edit(F f) {
        Model::Guard g(m);
        f(m);
    }

    std::unique_ptr<ControlRun> Connected() {
        auto r = std::make_unique<ControlRun>(m, link, conn, ev);
        r->ClaimSlot();
        EXPECT_TRUE(r->Start());
        return r;
    }
};

}  // namespace movra::testing

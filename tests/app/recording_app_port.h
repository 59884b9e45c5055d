#pragma once
// An AppPort for tests of views: records every request in order, as a line of text, and
// answers from what the test set. Reading gives an empty state.
#include <string>
#include <vector>

#include "app/app_port.h"
#include "app/channel_history.h"
#include "core/model.h"
#include "log/event_log.h"

namespace movra::testing {

class RecordingAppPort : public AppPort {
  public:
    std::vector<std::string> requests;
    bool saveResult = true, loadResult = true;
    AppSnapshot snapshot;

    void Attach(ViewLink* view) override { attached = view; }
    void Snapshot(AppSnapshot& out) const override { out = snapshot; }
    uint32_t ConnState() const override { return snapshot.connState; }
    const EventLog& Log() const override { return log_; }
    const chart::ChannelHistory& History() const override { return history_; }
    bool WorkerRunning() const override { return false; }
    Settings CurrentSettings() const override { return snapshot.settings; }
    SettingsEdit BeginSettingsEdit() const override { return {snapshot.settings, 0}; }
    LogEffects TakeLogLine(uint32_t flags, const Text& text) override {
        Add("TakeLogLine " + std::to_string(flags) + " " + ToUtf8(text));
        return {};
    }
    void TakeCycleSummary(const CycleSummary&) override { Add("TakeCycleSummary"); }
    std::optional<Text> TakeStartupLine() override { return std::nullopt; }

    void Connect() override { Add("Connect"); }
    void Disconnect() override { Add("Disconnect"); }
    void SetMode(int32_t mode) override { Add("SetMode " + std::to_string(mode)); }
    void Import(int32_t kinds) override { Add("Import " + std::to_string(kinds)); }
    // Asks the question the view gave, so that a test sees the view's asking passed on.
    bool Save(const AskYesNo& ask) override {
        Add("Save");
        return ask ? ask(u"?") && saveResult : saveResult;
    }
    bool Load() override {
        Add("Load");
        return loadResult;
    }
    void ClearLogFile() override { Add("ClearLogFile"); }
    bool ApplySettings(const Settings&, uint64_t) override {
        Add("ApplySettings");
        return true;
    }
    bool EditGroups(const GroupsRequest& r) override {
        Add("EditGroups " + std::to_string(static_cast<int>(r.kind)) + " " + ToUtf8(r.group));
        return true;
    }
    bool SetUserLimits(const LimitRequest& r) override {
        Add("SetUserLimits " + std::to_string(r.userId));
        return true;
    }
    AddUserOutcome AddUser(const Text& name) override {
        Add("AddUser " + ToUtf8(name));
        return {AddUserResult::kAdded, {}};
    }
    void DeleteUsers(const std::vector<uint64_t>& ids) override {
        std::string line = "DeleteUsers";
        for (uint64_t id : ids) {
            line += ' ';
            line += std::to_string(id);
        }
        Add(line);
    }
    std::optional<Text> CheckGroups() override {
        Add("CheckGroups");
        return std::nullopt;
    }
    ExitStep RequestExit() override {
        Add("RequestExit");
        return ExitStep::kClose;
    }
    ExitStep CheckExit() override { return ExitStep::kClose; }
    bool ExitBegun() const override { return false; }
    bool BeginSessionEnd() override {
        Add("BeginSessionEnd");
        return false;
    }
    bool SessionEnding() const override { return false; }
    bool WaitForWorkers(const std::function<void()>&) override { return true; }
    void EndProcess() override { Add("EndProcess"); }

    ViewLink* attached = nullptr;

  private:
    void Add(std::string line) { requests.push_back(std::move(line)); }
    Model model_;
    EventLog log_{model_, SystemClock()};
    chart::ChannelHistory history_;
};

}  // namespace movra::testing

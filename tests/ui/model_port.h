#pragma once
// An AppPort over a bare model for the editors' tests: the edit requests do what the
// application does with them (app/edits.h); the commands that need workers or files are counted.
#include <atomic>
#include <stdexcept>
#include <vector>

#include "app/app_port.h"
#include "app/edits.h"
#include "app/snapshot.h"
#include "core/model.h"

namespace movra::test {

class ModelPort : public AppPort {
  public:
    explicit ModelPort(Model& m) : m_(m) {}

    void Snapshot(AppSnapshot& out) const override { CopySnapshot(m_, LOG_DISCONNECTED, out); }
    uint32_t ConnState() const override { return LOG_DISCONNECTED; }
    const EventLog& Log() const override { throw std::logic_error("no event log"); }
    const chart::ChannelHistory& History() const override { throw std::logic_error("no history"); }
    bool WorkerRunning() const override { return running; }

    void Connect() override { ++connects; }
    void Disconnect() override { ++disconnects; }
    void SetMode(int32_t mode) override {
        Model::Guard g(m_);
        m_.settings.TrafficSpeedAutoControll = mode;
    }
    void Import(int32_t kinds) override { imports.push_back(kinds); }
    bool Save(const AskYesNo&) override { return ++saves, true; }
    bool Load() override { return ++loads, true; }
    void ClearLogFile() override {
        Model::Guard g(m_);
        clearedNames.push_back(m_.settings.LogFileName);
    }
    void ApplySettings(const Settings& edited) override {
        ++settingsApplied;
        ApplyEditedSettings(m_, edited);
    }
    bool EditGroups(const GroupsRequest& r) override {
        groupRequests.push_back(r.kind);
        return ApplyGroupsRequest(m_, r);
    }
    bool SetUserLimits(const LimitRequest& r) override { return ApplyLimitRequest(m_, r); }
    AddUserOutcome AddUser(const Text& name) override { return AddUserNamed(m_, name); }
    void DeleteUsers(const std::vector<uint64_t>& ids) override { DeleteUsersById(m_, ids); }

    std::atomic<bool> running{false};
    int connects = 0, disconnects = 0, saves = 0, loads = 0, settingsApplied = 0;
    std::vector<Text> clearedNames;  // the record's log file name at each clear
    std::vector<int32_t> imports;
    std::vector<GroupsRequest::Kind> groupRequests;

  private:
    Model& m_;
};

}  // namespace movra::test

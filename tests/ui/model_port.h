#pragma once
// An AppPort over a bare model for the editors' tests: the edit requests do what the
// application does with them (app/edits.h); everything else is recorded.
#include <atomic>
#include <vector>

#include "app/edits.h"
#include "app/recording_app_port.h"
#include "app/snapshot.h"
#include "core/model.h"

namespace movra::test {

class ModelPort : public testing::RecordingAppPort {
  public:
    explicit ModelPort(Model& m) : m_(m) {}

    void Snapshot(AppSnapshot& out) const override { CopySnapshot(m_, LOG_DISCONNECTED, out); }
    Settings CurrentSettings() const override {
        Model::Guard g(m_);
        return m_.settings;
    }
    bool WorkerRunning() const override { return running; }
    void ClearLogFile() override {
        Model::Guard g(m_);
        clearedNames.push_back(m_.settings.LogFileName);
    }
    SettingsEdit BeginSettingsEdit() const override { return {CurrentSettings(), revision}; }
    bool ApplySettings(const Settings& edited, uint64_t base) override {
        if (base != revision) return false;
        ApplyEditedSettings(m_, edited);
        ++revision;
        return true;
    }
    bool EditGroups(const GroupsRequest& r) override {
        groupRequests.push_back(r.kind);
        return ApplyGroupsRequest(m_, r);
    }
    bool SetUserLimits(const LimitRequest& r) override { return ApplyLimitRequest(m_, r); }
    AddUserOutcome AddUser(const Text& name) override { return AddUserNamed(m_, name); }
    void DeleteUsers(const std::vector<uint64_t>& ids) override { DeleteUsersById(m_, ids); }

    std::atomic<bool> running{false};
    std::atomic<uint64_t> revision{0};
    std::vector<Text> clearedNames;  // the record's log file name at each clear
    std::vector<GroupsRequest::Kind> groupRequests;

  private:
    Model& m_;
};

}  // namespace movra::test

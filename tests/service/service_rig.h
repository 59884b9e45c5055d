#pragma once
// A service host in a fresh current folder (Movra.cfg and Movra.log are relative names there),
// run on its own thread as the service control manager runs it, with a record of its event log
// and of the one-regulator place.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <thread>

#include "config/config_file.h"
#include "core/textfile.h"
#include "engine/fake_server.h"
#include "log/temp_dir.h"
#include "service/service_host.h"

namespace movra::testing {

using service::EventType;
using service::ServiceHost;
using service::ServiceHostParts;

class RecordingSink : public service::EventSink {
  public:
    void Report(EventType type, const Text& text) override {
        std::lock_guard<std::mutex> l(m_);
        reports_.emplace_back(type, text);
    }
    std::vector<std::pair<EventType, Text>> Reports() {
        std::lock_guard<std::mutex> l(m_);
        return reports_;
    }
    int Count(EventType type, const Text& text) {
        auto r = Reports();
        return static_cast<int>(
            std::count(r.begin(), r.end(), std::pair<EventType, Text>(type, text)));
    }

  private:
    std::mutex m_;
    std::vector<std::pair<EventType, Text>> reports_;
};

class CountingLock : public RegulatorLock {
  public:
    bool TryHold() override {
        ++tries;
        if (taken.load()) return false;
        ++holds;
        return true;
    }
    void Release() override { ++releases; }
    std::atomic<bool> taken{false};
    std::atomic<int> tries{0}, holds{0}, releases{0};
};

inline int Connects(FakeState& s) {
    std::lock_guard<std::mutex> l(s.m);
    return s.connects;
}

struct ServiceRig {
    explicit ServiceRig(TiConnector& connector) {
        old = std::filesystem::current_path();
        std::filesystem::current_path(dir.Path());
        parts.connector = &connector;
        parts.events = &sink;
        parts.regulator = &lock;
        parts.endProcess = [this] { ++processEnds; };
        parts.steadyMs = [this] { return steadyMs.load(); };
        parts.clock = &clock;
        parts.retry = {std::chrono::milliseconds(30000), std::chrono::milliseconds(100000)};
    }
    ~ServiceRig() {
        if (thread.joinable()) {
            host->RequestStop();
            thread.join();
        }
        host.reset();
        std::filesystem::current_path(old);
    }
    // Movra.cfg as the administrator saved it: `anna` monitored, the password stored or not.
    void WriteConfig(bool storePassword, int32_t beforeQuit = 0) {
        Model m(clock);
        m.settings.Server = u"ti.local";
        m.settings.RefreshTimer_msec = 20;
        m.settings.StorePassword = storePassword ? 1 : 0;
        m.settings.BeforeQuit = beforeQuit;
        m.AddUserByName(u"anna");
        struct NoBoxes : MessagePort {
            void ShowMessage(const Text&) override { ADD_FAILURE(); }
        } boxes;
        ASSERT_TRUE(SaveConfig(m, boxes, SystemFileSystem()));
    }
    void Start() {
        host = std::make_unique<ServiceHost>(parts);
        thread = std::thread([this] { host->Run([this] { ++progress; }); });
    }
    void Stop() {
        host->RequestStop();
        thread.join();
    }
    // Moves the clock once the loop has seen the run that just logged its last line end: the
    // pause before a retry starts when the loop last saw a run.
    void AdvanceAfterRun(int64_t ms) {
        std::this_thread::sleep_for(3 * ServiceHost::kTick);
        steadyMs += ms;
    }
    Text LogFile() {
        FILE* f = OpenFile(u"Movra.log", "rb");
        if (!f) return {};
        std::string bytes;
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.append(buf, n);
        std::fclose(f);
        return DecodeText(bytes);
    }
    int LogCount(const Text& text) {
        const Text log = LogFile();
        int n = 0;
        for (size_t at = log.find(text); at != Text::npos; at = log.find(text, at + 1)) ++n;
        return n;
    }

    TempDir dir;
    std::filesystem::path old;
    ManualClock clock{1796126400};
    RecordingSink sink;
    CountingLock lock;
    std::atomic<int64_t> steadyMs{1000};
    std::atomic<int> processEnds{0}, progress{0};
    ServiceHostParts parts;
    std::unique_ptr<ServiceHost> host;
    std::thread thread;
};

}  // namespace movra::testing

// The service's host left regulating for a long time: 2,000 users with changing wishes in mode 3
// against TiSim's core in real time, one cycle a second, and every four minutes a user whose
// data cannot be read for twenty seconds (the run ends, the host connects again after its
// pause). Prints the process's resident memory every minute and its first, highest and last
// value; not a test (no threshold), a measurement.
//   service_soak [seconds=3600] [users=2000]
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "config/config_file.h"
#include "core/model.h"
#include "service/service_host.h"
#include "tisim/sim.h"

namespace {

using namespace movra;

long ResidentKb() {
    std::ifstream f("/proc/self/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

Text NameOf(int k) {
    return u"user" + FromUtf8(std::to_string(k));
}

class CountingSink : public service::EventSink {
  public:
    void Report(service::EventType type, const Text&) override { ++counts[static_cast<int>(type)]; }
    std::atomic<long> counts[3] = {0, 0, 0};
};

class Quiet : public MessagePort {
  public:
    void ShowMessage(const Text&) override {}
};

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 3600;
    const int users = argc > 2 ? std::atoi(argv[2]) : 2000;

    const auto dir = std::filesystem::temp_directory_path() / "movra_service_soak";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    std::filesystem::current_path(dir);

    tisim::Scenario sc;
    sc.time = tisim::TimeMode::RealTime;
    sc.channelIn = 100000;
    sc.channelOut = 50000;
    sc.journalMemory = 1000;
    sc.schedulePeriod = 240;
    for (int k = 0; k < users; ++k) {
        tisim::UserSetup u;
        u.name = NameOf(k);
        u.ip = u"10.0.0.1";
        u.rxBytes = 1000;
        u.randomDemand = k % 4 == 0;
        u.demand = {k % 3 ? 100.0 : 0.0, 10.0};
        sc.users.push_back(u);
    }
    tisim::ScheduledEvent on, off;
    on.at = 120;
    on.kind = tisim::ScheduledEvent::Kind::Fault;
    on.fault.kind = tisim::FaultSwitch::Kind::Info;
    on.fault.user = NameOf(5);
    off = on;
    off.at = 140;
    off.kind = tisim::ScheduledEvent::Kind::Clear;
    sc.schedule = {on, off};
    auto sim = std::make_shared<tisim::Simulator>(sc, SystemClock());
    tisim::SimConnector connector(sim);

    {
        Model m(SystemClock());
        m.settings.Server = u"localhost";
        m.settings.StorePassword = 1;
        m.settings.TrafficSpeedAutoControll = kModeDivision;
        m.settings.RefreshTimer_msec = 1000;
        m.settings.RXMAXkbit = 100000;
        m.settings.TXMAXkbit = 50000;
        m.settings.BeforeQuit = 2;
        for (int k = 0; k < users; ++k) m.AddUserByName(NameOf(k));
        Quiet quiet;
        if (!SaveConfig(m, quiet, SystemFileSystem())) {
            std::fprintf(stderr, "service_soak: cannot write Movra.cfg in %s\n", dir.c_str());
            return 1;
        }
    }

    CountingSink sink;
    service::ServiceHostParts parts;
    parts.connector = &connector;
    parts.events = &sink;
    parts.endProcess = [] {
        std::fprintf(stderr, "service_soak: the stop overran its bound\n");
        std::_Exit(1);
    };
    service::ServiceHost host(parts);
    std::thread loop([&] { host.Run({}); });

    const long first = ResidentKb();
    long most = first, last = first;
    std::printf("service_soak: %d users, %d s; resident memory (kB) each minute:\n", users,
                seconds);
    std::printf("  0 min: %ld\n", first);
    for (int t = 1; t <= seconds; ++t) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        if (t % 60 == 0 || t == seconds) {
            last = ResidentKb();
            if (last > most) most = last;
            std::printf("  %d min: %ld\n", t / 60, last);
            std::fflush(stdout);
        }
    }
    host.RequestStop();
    loop.join();
    std::printf("service_soak: resident memory first %ld kB, highest %ld kB, last %ld kB\n", first,
                most, last);
    std::printf("service_soak: event log reports: %ld information, %ld warnings, %ld errors\n",
                sink.counts[0].load(), sink.counts[1].load(), sink.counts[2].load());
    std::filesystem::current_path(std::filesystem::temp_directory_path());
    std::filesystem::remove_all(dir);
    return 0;
}

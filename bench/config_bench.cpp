// Saving and loading Movra.cfg with 10,000 users and 500 groups.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "config/config_file.h"
#include "core/clock.h"
#include "core/model.h"

namespace {

using namespace movra;

class NullPort : public MessagePort {
  public:
    void ShowMessage(const Text&) override { ++shown; }
    int shown = 0;
};

// A scratch folder holding the benchmark's Movra.cfg.
std::filesystem::path ScratchDir() {
    static const std::filesystem::path dir = [] {
        auto d = std::filesystem::temp_directory_path() /
                 ("movra-config-bench-" +
                  std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        std::filesystem::create_directories(d);
        return d;
    }();
    return dir;
}

void Fill(Model& m) {
    Model::Guard g(m);
    m.settings.ConfigFileName = FromUtf8((ScratchDir() / "Movra.cfg").string());
    m.settings.StorePassword = 1;
    m.settings.AutoMeasure = 1;
    for (int i = 1; i <= 500; ++i) {
        int32_t id = m.FindOrAddGroup(FromUtf8("Группа " + std::to_string(i)));
        m.SetGroupShare(id, 1.0f / static_cast<float>(i));
    }
    for (int i = 0; i < 10000; ++i) {
        int32_t u = m.AddUserByName(FromUtf8("пользователь " + std::to_string(i)));
        CTiUserData& r = m.User(u);
        r.UserKTraff = 0.5f + static_cast<float>(i % 7);
        r.UserGrID = i % 501;
        r.UserLimitMaxIn = i % 1024;
        r.UserLimitMaxOut = i % 512;
    }
}

void BM_SaveConfig(benchmark::State& state) {
    Model m;
    Fill(m);
    NullPort port;
    for (auto _ : state) SaveConfig(m, port);
    if (port.shown) state.SkipWithError("save failed");
}
BENCHMARK(BM_SaveConfig)->Unit(benchmark::kMillisecond);

void BM_LoadConfig(benchmark::State& state) {
    Model m;
    Fill(m);
    NullPort port;
    SaveConfig(m, port);
    for (auto _ : state) LoadConfig(m, port);
    if (port.shown) state.SkipWithError("load failed");
    Model::Guard g(m);
    if (m.NumUsers != 10000 || m.NumGroups != 501) state.SkipWithError("wrong counts");
}
BENCHMARK(BM_LoadConfig)->Unit(benchmark::kMillisecond);

// Start-up: loading into an empty model, every user new.
void BM_LoadConfigFresh(benchmark::State& state) {
    {
        Model m;
        Fill(m);
        NullPort port;
        SaveConfig(m, port);
    }
    const Text name = FromUtf8((ScratchDir() / "Movra.cfg").string());
    NullPort port;
    for (auto _ : state) {
        state.PauseTiming();
        auto m = std::make_unique<Model>();
        {
            Model::Guard g(*m);
            m->settings.ConfigFileName = name;
        }
        state.ResumeTiming();
        LoadConfig(*m, port);
        state.PauseTiming();
        m.reset();
        state.ResumeTiming();
    }
    if (port.shown) state.SkipWithError("load failed");
}
BENCHMARK(BM_LoadConfigFresh)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

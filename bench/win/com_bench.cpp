// In-process calls per second through Movra's COM adapter into TiSim.dll (run under Wine or on
// Windows). Google Benchmark is not built for MinGW here, so this is a plain timing loop:
//   com_bench.exe [calls]
// TiSim.dll is taken from beside the program and registered machine-wide for the run.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>

#include "engine/tiserver.h"
#include "engine/win/com_connector.h"
#include "tisim/win/tisim_dll.h"

namespace {

template <class Fn>
Fn Proc(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

void Measure(const char* what, long calls, const std::function<void()>& call) {
    call();  // warm up
    const auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < calls; ++i) call();
    const double s =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%-34s %8ld calls  %8.3f s  %10.0f calls/s  %7.2f us/call\n", what, calls, s,
                calls / s, 1e6 * s / calls);
}

}  // namespace

int main(int argc, char** argv) {
    const long calls = argc > 1 ? std::atol(argv[1]) : 20000;
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring dir(exe);
    dir.erase(dir.find_last_of(L"\\/") + 1);
    HMODULE dll = LoadLibraryW((dir + L"TiSim.dll").c_str());
    if (!dll) {
        std::fprintf(stderr, "com_bench: TiSim.dll not found beside the program\n");
        return 1;
    }
    auto reg = Proc<TiSimRegisterFn>(dll, "TiSimRegister");
    auto load = Proc<TiSimLoadScenarioFn>(dll, "TiSimLoadScenario");
    if (!reg || !load || FAILED(reg(kTiSimMachine))) {
        std::fprintf(stderr, "com_bench: TiSim.dll cannot be registered\n");
        return 1;
    }
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring scenario = std::wstring(temp) + L"com_bench.tisim";
    {
        std::string path;
        for (wchar_t c : scenario) path += static_cast<char>(c);
        std::ofstream(path, std::ios::binary)
            << "password 1\nchannel 1024 256\ntime manual\ngroup g 500\n"
               "user u1 group=g ip=10.0.0.1 in=100 out=50 demand=80/10\n";
    }
    if (FAILED(load(scenario.c_str()))) {
        std::fprintf(stderr, "com_bench: scenario cannot be loaded\n");
        return 1;
    }
    DeleteFileW(scenario.c_str());

    try {
        movra::ComConnector connector;
        Measure("Connect + Login + release", calls / 10, [&] {
            auto s = connector.Connect(u"localhost");
            s->Login(u"1");
        });
        auto server = connector.Connect(u"localhost");
        server->Login(u"1");
        Measure("GetProperty User_InBandwidth", calls, [&] {
            server->GetProperty(movra::kKindUser, u"u1", movra::PropName(u"User_InBandwidth"));
        });
        Measure("SetProperty 31", calls, [&] {
            server->SetProperty(movra::kKindUser, u"u1", movra::PropNumber(31),
                                movra::Variant::I4(100));
        });
        Measure("GetUserInfo (40-element array)", calls, [&] { server->GetUserInfo(u"u1"); });
        Measure("ListUsers", calls, [&] { server->ListUsers(); });
    } catch (const movra::TiError& e) {
        std::fprintf(stderr, "com_bench: call failed with 0x%08X\n",
                     static_cast<unsigned>(e.status()));
        return 1;
    }
    return 0;
}

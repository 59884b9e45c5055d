// Movra's COM adapter against TiSim.dll, registered machine-wide in the test's Wine prefix:
// connecting, every call, the error paths and the journal of calls; and TiSim's registration,
// which must never clobber another server that holds the CLSID.

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/tiserver.h"
#include "engine/win/com_connector.h"
#include "tisim/win/tisim_dll.h"

using movra::ConversionError;
using movra::TiError;
using movra::Variant;
using movra::VarType;

namespace {

constexpr int32_t kAccessDenied = static_cast<int32_t>(0x80070005);
constexpr int32_t kFail = static_cast<int32_t>(0x80004005);
constexpr int32_t kClassNotRegistered = static_cast<int32_t>(0x80040154);

const wchar_t kUserClsid[] = L"Software\\Classes\\CLSID\\{385D6E60-1ACB-4097-B428-C766661C1E9D}";

std::wstring Dir(const std::wstring& path) {
    return path.substr(0, path.find_last_of(L"\\/") + 1);
}

std::string Narrow(const std::wstring& s) {
    std::string out;
    for (wchar_t c : s) out += static_cast<char>(c);  // paths here are ASCII
    return out;
}

template <class Fn>
Fn Proc(HMODULE module, const char* name) {
    // Through void*: FARPROC's own type says nothing of the real signature.
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// The loaded DLL with its extra entry points, and a scratch folder for scenarios and journals.
struct TiSim {
    HMODULE module = nullptr;
    TiSimRegisterFn Register = nullptr;
    TiSimLoadScenarioFn LoadScenario = nullptr;
    TiSimAdvanceFn Advance = nullptr;
    std::wstring dllPath;
    std::wstring scratch;

    static TiSim& Get() {
        static TiSim sim;
        return sim;
    }

    // Writes a scenario (UTF-8) whose journal goes to journal.txt beside it, and makes it the
    // simulator every new object talks to.
    void Use(const std::string& scenario) {
        DeleteFileW((scratch + L"journal.txt").c_str());
        std::ofstream(Narrow(scratch + L"scenario.tisim"), std::ios::binary)
            << scenario << "\njournal journal.txt\n";
        ASSERT_EQ(LoadScenario((scratch + L"scenario.tisim").c_str()), S_OK);
    }

    std::vector<std::string> Journal() const {
        std::ifstream in(Narrow(scratch + L"journal.txt"), std::ios::binary);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) {
            // Drop the sequence number and the time in front of each call.
            size_t first = line.find(' ');
            size_t second = line.find(' ', first + 1);
            lines.push_back(line.substr(second + 1));
        }
        return lines;
    }

    ~TiSim() {
        for (const wchar_t* f : {L"journal.txt", L"scenario.tisim", L"bad.tisim"}) {
            DeleteFileW((scratch + f).c_str());
        }
        RemoveDirectoryW(scratch.c_str());
    }

  private:
    TiSim() {
        wchar_t exe[MAX_PATH];
        GetModuleFileNameW(nullptr, exe, MAX_PATH);
        wchar_t full[MAX_PATH];
        GetFullPathNameW((Dir(exe) + L"..\\..\\tisim\\TiSim.dll").c_str(), MAX_PATH, full, nullptr);
        dllPath = full;
        module = LoadLibraryW(full);
        if (!module) return;
        Register = Proc<TiSimRegisterFn>(module, "TiSimRegister");
        LoadScenario = Proc<TiSimLoadScenarioFn>(module, "TiSimLoadScenario");
        Advance = Proc<TiSimAdvanceFn>(module, "TiSimAdvance");
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        scratch = std::wstring(temp) + L"tisim_com_test_" + std::to_wstring(GetCurrentProcessId()) +
                  L"\\";
        CreateDirectoryW(scratch.c_str(), nullptr);
    }
};

class TiSimCom : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        TiSim& sim = TiSim::Get();
        ASSERT_NE(sim.module, nullptr) << "TiSim.dll not found beside the build";
        ASSERT_NE(sim.Register, nullptr);
        // Under Wine only a machine-wide class is found.
        ASSERT_EQ(sim.Register(kTiSimMachine), S_OK);
    }
    TiSim& sim = TiSim::Get();
    movra::ComConnector connector;
};

const char kNetwork[] = R"(password "тайна 1"
channel 1024 256
time manual
group Отдел 300
user Иван group=Отдел ip=10.0.0.5 in=200 out=50 demand=100/10 rx=1000 tx=500
user Пётр ip=10.0.0.6 in=0 out=0 demand=0/0
)";

TEST_F(TiSimCom, EveryCallReachesTheSimulatorAndIsJournaled) {
    sim.Use(kNetwork);
    {
        auto server = connector.Connect(u"ti-server.example");
        server->Login(u"тайна 1");

        Variant list = server->ListUsers();
        ASSERT_EQ(list.type, VarType::BStr);
        EXPECT_NE(list.s.find(u"DisplayName=\"Иван\""), movra::Text::npos);
        EXPECT_NE(list.s.find(u"DisplayName=\"Пётр\""), movra::Text::npos);

        Variant info = server->GetUserInfo(u"Иван");
        ASSERT_EQ(info.type, VarType::Array);
        ASSERT_GE(info.a.size(), 35u);
        EXPECT_EQ(movra::InfoElement(info, 0), Variant::BStr(u"Иван"));
        EXPECT_EQ(movra::InfoElement(info, 24), Variant::BStr(u"10.0.0.5"));
        EXPECT_EQ(movra::InfoElement(info, 20).type, VarType::R8);
        EXPECT_EQ(movra::ToInt32(movra::InfoElement(info, 10)), 1);

        EXPECT_EQ(movra::ToInt32(server->GetProperty(movra::kKindUser, u"Иван",
                                                     movra::PropName(u"User_InBandwidth"))),
                  200);
        server->SetProperty(movra::kKindUser, u"Иван", movra::PropNumber(31), Variant::I4(120));
        server->SetProperty(movra::kKindUser, u"Иван", movra::PropName(u"User_OutBandwidth"),
                            Variant::Int(40));
        EXPECT_EQ(
            movra::ToInt32(server->GetProperty(movra::kKindUser, u"Иван", movra::PropNumber(31))),
            120);
        EXPECT_EQ(movra::ToInt32(server->GetProperty(movra::kKindUser, u"Иван",
                                                     movra::PropName(u"User_OutBandwidth"))),
                  40);
        EXPECT_EQ(server->GetProperty(movra::kKindUser, u"Иван", movra::PropNumber(8)),
                  Variant::BStr(u"Отдел"));
        EXPECT_EQ(
            movra::ToInt32(server->GetProperty(movra::kKindGroup, u"Отдел", movra::PropNumber(18))),
            300);
        movra::SystemTime when;
        EXPECT_TRUE(movra::OleDateToSystemTime(
            movra::ToReal(server->GetProperty(movra::kKindUser, u"Иван", movra::PropNumber(78))),
            when));
    }
    // The journal shows exactly what went over COM, in order, and the release at the end.
    const std::vector<std::string> want = {
        "s1 Connect BSTR:\"\" -> OK",
        "s1 Login BSTR:\"тайна 1\" -> OK",
        "s1 ListUsers int32:19 INT:0 INT:0 int32:0 -> OK BSTR:",
        "s1 GetUserInfo BSTR:\"Иван\" -> OK ARRAY[",
        "s1 GetProperty int32:3 BSTR:\"Иван\" BSTR:\"User_InBandwidth\" -> OK I4:200",
        "s1 SetProperty int32:3 BSTR:\"Иван\" INT:31 I4:120 int32:1 -> OK",
        "s1 SetProperty int32:3 BSTR:\"Иван\" BSTR:\"User_OutBandwidth\" INT:40 int32:1 -> OK",
        "s1 GetProperty int32:3 BSTR:\"Иван\" INT:31 -> OK I4:120",
        "s1 GetProperty int32:3 BSTR:\"Иван\" BSTR:\"User_OutBandwidth\" -> OK I4:40",
        "s1 GetProperty int32:3 BSTR:\"Иван\" INT:8 -> OK BSTR:\"Отдел\"",
        "s1 GetProperty int32:2 BSTR:\"Отдел\" INT:18 -> OK",
        "s1 GetProperty int32:3 BSTR:\"Иван\" INT:78 -> OK",
        "s1 Release -> OK",
    };
    const std::vector<std::string> got = sim.Journal();
    ASSERT_EQ(got.size(), want.size()) << ::testing::PrintToString(got);
    for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(got[i].rfind(want[i], 0), 0u) << "line " << i << ": " << got[i];
    }
}

TEST_F(TiSimCom, ObjectsOfEveryThreadShareOneSimulatedNetwork) {
    sim.Use(kNetwork);
    auto control = connector.Connect(u"server");
    control->Login(u"тайна 1");
    control->SetProperty(movra::kKindUser, u"Пётр", movra::PropNumber(31), Variant::I4(77));
    // Another worker thread enters its own apartment and makes its own object.
    int32_t seen = 0;
    std::thread import([&] {
        auto other = movra::ComConnector().Connect(u"server");
        other->Login(u"тайна 1");
        seen = movra::ToInt32(
            other->GetProperty(movra::kKindUser, u"Пётр", movra::PropName(u"User_InBandwidth")));
    });
    import.join();
    EXPECT_EQ(seen, 77);

    // Simulated time moves counters of a user with demand.
    Variant before = movra::InfoElement(control->GetUserInfo(u"Иван"), 20);
    ASSERT_EQ(sim.Advance(10), S_OK);
    Variant after = movra::InfoElement(control->GetUserInfo(u"Иван"), 20);
    EXPECT_GT(movra::ToReal(after), movra::ToReal(before));
}

TEST_F(TiSimCom, FailingCallsThrowTheServersStatus) {
    sim.Use(std::string(kNetwork) +
            "fault list\nfault info Пётр\nfault get Иван 8\nfault set * User_OutBandwidth\n");
    auto server = connector.Connect(u"server");
    auto code = [](auto&& call) {
        try {
            call();
        } catch (const TiError& e) {
            return e.status();
        }
        return 0;
    };
    // Before a login the server refuses everything.
    EXPECT_EQ(code([&] { server->GetUserInfo(u"Иван"); }), kAccessDenied);
    EXPECT_EQ(code([&] { server->Login(u"тайна 2"); }), kAccessDenied);
    server->Login(u"тайна 1");
    EXPECT_EQ(code([&] { server->ListUsers(); }), kFail);
    EXPECT_EQ(code([&] { server->GetUserInfo(u"Пётр"); }), kFail);
    EXPECT_EQ(code([&] { server->GetProperty(3, u"Иван", movra::PropNumber(8)); }), kFail);
    EXPECT_EQ(code([&] { server->SetProperty(3, u"Пётр", movra::PropNumber(32), Variant::I4(5)); }),
              kFail);
    // Unknown users and properties fail too, with codes of their own.
    EXPECT_LT(code([&] { server->GetUserInfo(u"Никто"); }), 0);
    EXPECT_LT(code([&] { server->GetProperty(3, u"Иван", movra::PropNumber(999)); }), 0);
    // The calls that were not refused still work.
    EXPECT_NO_THROW(server->SetProperty(3, u"Пётр", movra::PropNumber(31), Variant::I4(5)));
}

TEST_F(TiSimCom, ValuesThatCannotBeReadAsExpectedFailAsConversions) {
    sim.Use(std::string(kNetwork) + "fault short-info 20\n");
    auto server = connector.Connect(u"server");
    server->Login(u"тайна 1");
    Variant info = server->GetUserInfo(u"Иван");
    EXPECT_EQ(info.a.size(), 20u);
    EXPECT_THROW(movra::InfoElement(info, 24), ConversionError);
    EXPECT_THROW(movra::ToInt32(server->GetProperty(3, u"Иван", movra::PropNumber(8))),
                 ConversionError);

    sim.Use(std::string(kNetwork) + "fault counters-i4\n");
    auto second = connector.Connect(u"server");
    second->Login(u"тайна 1");
    EXPECT_EQ(movra::InfoElement(second->GetUserInfo(u"Иван"), 20), Variant::I4(1000));
}

TEST_F(TiSimCom, CreationFailuresCarryTheirStatus) {
    auto status = [&] {
        try {
            connector.Connect(u"server");
        } catch (const TiError& e) {
            return e.status();
        }
        return 0;
    };
    sim.Use(std::string(kNetwork) + "fault create\n");
    EXPECT_EQ(status(), kClassNotRegistered);
    sim.Use(kNetwork);
    EXPECT_EQ(status(), 0);

    // Without a registration the class is unknown; registering again brings it back.
    ASSERT_EQ(sim.Register(kTiSimUnregister | kTiSimMachine), S_OK);
    EXPECT_EQ(status(), kClassNotRegistered);
    ASSERT_EQ(sim.Register(kTiSimMachine), S_OK);
    EXPECT_EQ(status(), 0);

    // A scenario that cannot be read is refused and the running simulator stays.
    EXPECT_EQ(sim.LoadScenario((sim.scratch + L"missing.tisim").c_str()),
              HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    std::ofstream(Narrow(sim.scratch + L"bad.tisim")) << "user\n";
    EXPECT_LT(sim.LoadScenario((sim.scratch + L"bad.tisim").c_str()), 0);
    EXPECT_EQ(status(), 0);
}

// ---- registration, per user so the machine-wide class the other tests use stays put ----

std::wstring ReadValue(const std::wstring& key, const wchar_t* name) {
    wchar_t buf[512];
    DWORD size = sizeof buf;
    if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name, RRF_RT_REG_SZ, nullptr, buf, &size) !=
        ERROR_SUCCESS) {
        return L"<none>";
    }
    return buf;
}

void WriteValue(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
    HKEY h;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &h,
                              nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(h, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(h);
}

bool KeyExists(const std::wstring& key) {
    HKEY h;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(h);
    return true;
}

class TiSimRegistration : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(sim.Register, nullptr);
        RegDeleteTreeW(HKEY_CURRENT_USER, kUserClsid);
    }
    void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, kUserClsid); }
    TiSim& sim = TiSim::Get();
    const std::wstring clsid = kUserClsid;
    const std::wstring inproc = clsid + L"\\InprocServer32";
};

TEST_F(TiSimRegistration, OwnKeysComeAndGoWithoutTouchingOthers) {
    const std::wstring neighbour =
        L"Software\\Classes\\CLSID\\{00000000-1111-2222-3333-444444444444}";
    WriteValue(neighbour + L"\\InprocServer32", nullptr, L"C:\\other\\TiSim.dll");

    ASSERT_EQ(sim.Register(kTiSimUser), S_OK);
    EXPECT_EQ(ReadValue(inproc, nullptr), sim.dllPath);
    EXPECT_EQ(ReadValue(inproc, L"ThreadingModel"), L"Free");
    // Registering twice (say, from another build) is fine.
    EXPECT_EQ(sim.Register(kTiSimUser), S_OK);

    ASSERT_EQ(sim.Register(kTiSimUnregister | kTiSimUser), S_OK);
    EXPECT_FALSE(KeyExists(clsid));
    EXPECT_EQ(sim.Register(kTiSimUnregister | kTiSimUser), S_OK) << "nothing left to remove";
    EXPECT_EQ(ReadValue(neighbour + L"\\InprocServer32", nullptr), L"C:\\other\\TiSim.dll");
    RegDeleteTreeW(HKEY_CURRENT_USER, neighbour.c_str());
}

TEST_F(TiSimRegistration, AnotherServerIsReplacedOnlyWhenForcedAndComesBack) {
    const std::wstring real = L"C:\\Program Files\\TI\\tiserver.dll";
    WriteValue(inproc, nullptr, real);
    WriteValue(inproc, L"ThreadingModel", L"Both");
    WriteValue(clsid + L"\\ProgID", nullptr, L"TI.Server");

    EXPECT_EQ(sim.Register(kTiSimUser), kTiSimForeignServer);
    EXPECT_EQ(ReadValue(inproc, nullptr), real);

    ASSERT_EQ(sim.Register(kTiSimUser | kTiSimForce), S_OK);
    EXPECT_EQ(ReadValue(inproc, nullptr), sim.dllPath);
    EXPECT_EQ(ReadValue(inproc, L"ThreadingModel"), L"Free");
    // A second forced registration must not lose the server saved by the first.
    ASSERT_EQ(sim.Register(kTiSimUser | kTiSimForce), S_OK);

    ASSERT_EQ(sim.Register(kTiSimUnregister | kTiSimUser), S_OK);
    EXPECT_EQ(ReadValue(inproc, nullptr), real);
    EXPECT_EQ(ReadValue(inproc, L"ThreadingModel"), L"Both");
    EXPECT_EQ(ReadValue(clsid + L"\\ProgID", nullptr), L"TI.Server");
    // Unregistering again leaves the other server alone.
    ASSERT_EQ(sim.Register(kTiSimUnregister | kTiSimUser), S_OK);
    EXPECT_EQ(ReadValue(inproc, nullptr), real);
}

TEST_F(TiSimRegistration, ALocalServerCountsAsAnotherServer) {
    WriteValue(clsid + L"\\LocalServer32", nullptr, L"C:\\TI\\tiserver.exe");
    EXPECT_EQ(sim.Register(kTiSimUser), kTiSimForeignServer);
    EXPECT_FALSE(KeyExists(inproc));
}

}  // namespace

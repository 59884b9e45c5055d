// TiSim.dll: the COM in-process server that answers for the TI server's CLSID. Every object it
// makes is a session of one simulator shared by the whole process, so the control and import
// threads of a program see the same simulated network.
#include <windows.h>

#include <oleauto.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <new>
#include <string>

#include "engine/win/com_ptr.h"
#include "engine/win/com_variant.h"
#include "engine/win/ti_interface.h"
#include "tisim/sim.h"
#include "tisim/win/tisim_dll.h"

using movra::Variant;
using movra::com::FromVariant;
using movra::com::ToVariant;

HMODULE g_tisimModule = nullptr;  // also read by the registration code

namespace {

std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};

std::mutex g_simMutex;
std::shared_ptr<tisim::Simulator> g_sim;

std::wstring ModuleDir() {
    wchar_t path[MAX_PATH * 2];
    DWORD n = GetModuleFileNameW(g_tisimModule, path, static_cast<DWORD>(std::size(path)));
    std::wstring s(path, n < std::size(path) ? n : 0);
    size_t slash = s.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : s.substr(0, slash + 1);
}

movra::Text ToText(const std::wstring& s) {
    return movra::Text(s.begin(), s.end());
}

void Report(const std::wstring& message) {
    OutputDebugStringW((L"TiSim: " + message + L"\n").c_str());
}

// The scenario named by TISIM_SCENARIO, else TiSim.tisim beside the DLL.
std::wstring DefaultScenarioPath() {
    wchar_t buf[MAX_PATH * 2];
    DWORD n = GetEnvironmentVariableW(L"TISIM_SCENARIO", buf, static_cast<DWORD>(std::size(buf)));
    if (n > 0 && n < std::size(buf)) return std::wstring(buf, n);
    return ModuleDir() + L"TiSim.tisim";
}

HRESULT LoadSimulator(const std::wstring& path, std::shared_ptr<tisim::Simulator>& out) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) {
        DWORD err = GetLastError();
        Report(L"cannot open the scenario " + path);
        return HRESULT_FROM_WIN32(err);
    }
    std::string text;
    char chunk[65536];
    DWORD got = 0;
    bool ok = true;
    while ((ok = ReadFile(f, chunk, sizeof chunk, &got, nullptr)) && got > 0)
        text.append(chunk, got);
    DWORD err = GetLastError();
    CloseHandle(f);
    if (!ok) return HRESULT_FROM_WIN32(err);
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
    try {
        size_t slash = path.find_last_of(L"\\/");
        movra::Text dir =
            slash == std::wstring::npos ? movra::Text() : ToText(path.substr(0, slash));
        out = std::make_shared<tisim::Simulator>(tisim::ParseScenario(text, dir));
        return S_OK;
    } catch (const std::exception& e) {
        std::string what = e.what();
        Report(L"scenario " + path + L": " + std::wstring(what.begin(), what.end()));
        return HRESULT_FROM_WIN32(ERROR_BAD_FORMAT);
    }
}

HRESULT SharedSimulator(std::shared_ptr<tisim::Simulator>& out) {
    std::lock_guard lock(g_simMutex);
    if (!g_sim) {
        HRESULT hr = LoadSimulator(DefaultScenarioPath(), g_sim);
        if (FAILED(hr)) return hr;
    }
    out = g_sim;
    return S_OK;
}

// Runs one call and turns every failure into a negative status: no exception crosses COM.
template <class F>
HRESULT Serve(F&& body) {
    try {
        body();
        return S_OK;
    } catch (const movra::TiError& e) {
        return e.status() < 0 ? static_cast<HRESULT>(e.status()) : E_FAIL;
    } catch (const movra::ConversionError&) {
        return DISP_E_TYPEMISMATCH;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

template <class F>
HRESULT ServeResult(VARIANT* result, F&& body) {
    if (result == nullptr) return E_POINTER;
    VariantInit(result);
    return Serve([&] { ToVariant(body(), result); });
}

// The object is free-threaded: calls from several threads on one object take turns, as a
// session keeps its own login state.
#define TISIM_CALL std::lock_guard call_lock(mutex_)

class TiObject final : public movra::com::TiServerObject {
  public:
    explicit TiObject(std::unique_ptr<tisim::Session> session) : session_(std::move(session)) {
        ++g_objects;
    }
    ~TiObject() { --g_objects; }

    // IUnknown
    HRESULT __stdcall QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
            IsEqualIID(riid, movra::com::kTiServerIid)) {
            *ppv = static_cast<movra::com::ITiServer*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG __stdcall AddRef() override { return ++refs_; }
    ULONG __stdcall Release() override {
        ULONG n = --refs_;
        if (n == 0) delete this;
        return n;
    }

    HRESULT __stdcall ListUsers(int what, VARIANT from, VARIANT count, int flags,
                                VARIANT* result) override {
        TISIM_CALL;
        return ServeResult(result, [&] {
            return session_->ListUsersRaw(what, FromVariant(from), FromVariant(count), flags);
        });
    }
    HRESULT __stdcall Login(VARIANT password, VARIANT* result) override {
        TISIM_CALL;
        return ServeResult(result, [&] { return session_->LoginRaw(FromVariant(password)); });
    }
    HRESULT __stdcall GetUserInfo(VARIANT name, VARIANT* result) override {
        TISIM_CALL;
        return ServeResult(result, [&] { return session_->GetUserInfoRaw(FromVariant(name)); });
    }
    HRESULT __stdcall GetProperty(int kind, VARIANT object, VARIANT property,
                                  VARIANT* result) override {
        TISIM_CALL;
        return ServeResult(result, [&] {
            return session_->GetPropertyRaw(kind, FromVariant(object), FromVariant(property));
        });
    }
    HRESULT __stdcall SetProperty(int kind, VARIANT object, VARIANT property, VARIANT value,
                                  int flag) override {
        TISIM_CALL;
        return Serve([&] {
            session_->SetPropertyRaw(kind, FromVariant(object), FromVariant(property),
                                     FromVariant(value), flag);
        });
    }

  private:
    std::atomic<ULONG> refs_{1};
    std::mutex mutex_;
    std::unique_ptr<tisim::Session> session_;
};

#undef TISIM_CALL

class Factory final : public IClassFactory {
  public:
    HRESULT __stdcall QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    // The factory is static; its references only keep the module loaded.
    ULONG __stdcall AddRef() override { return static_cast<ULONG>(++g_locks); }
    ULONG __stdcall Release() override { return static_cast<ULONG>(--g_locks); }

    HRESULT __stdcall CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        std::shared_ptr<tisim::Simulator> sim;
        HRESULT hr = SharedSimulator(sim);
        if (FAILED(hr)) return hr;
        std::unique_ptr<tisim::Session> session;
        // In process the caller's host name does not reach us.
        hr = Serve([&] { session = tisim::SimConnector(sim).ConnectSession(movra::Text()); });
        if (FAILED(hr)) return hr;
        // The caller's reference comes from QueryInterface; the one of creation goes here.
        movra::com::ComPtr<TiObject> object(new (std::nothrow) TiObject(std::move(session)));
        if (!object) return E_OUTOFMEMORY;
        return object->QueryInterface(riid, ppv);
    }
    HRESULT __stdcall LockServer(BOOL lock) override {
        if (lock) {
            ++g_locks;
        } else {
            --g_locks;
        }
        return S_OK;
    }
};

Factory g_factory;

}  // namespace

extern HRESULT TiSimRegisterImpl(DWORD flags);

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_tisimModule = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

HRESULT __stdcall DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualCLSID(clsid, movra::com::kTiServerClsid)) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(riid, ppv);
}

// Once a simulator runs, the module stays: unloading would reset the simulated network between
// one worker and the next.
HRESULT __stdcall DllCanUnloadNow() {
    std::lock_guard lock(g_simMutex);
    return g_objects == 0 && g_locks == 0 && !g_sim ? S_OK : S_FALSE;
}

HRESULT __stdcall DllRegisterServer() {
    DWORD flags = 0;
    wchar_t buf[32];
    DWORD n = GetEnvironmentVariableW(L"TISIM_REGISTER", buf, static_cast<DWORD>(std::size(buf)));
    if (n > 0 && n < std::size(buf)) {
        if (lstrcmpiW(buf, L"machine") == 0) flags |= kTiSimMachine;
        if (lstrcmpiW(buf, L"user") == 0) flags |= kTiSimUser;
    }
    n = GetEnvironmentVariableW(L"TISIM_FORCE", buf, static_cast<DWORD>(std::size(buf)));
    if (n > 0 && n < std::size(buf) && lstrcmpW(buf, L"0") != 0) flags |= kTiSimForce;
    return TiSimRegisterImpl(flags);
}

HRESULT __stdcall DllUnregisterServer() {
    return TiSimRegisterImpl(kTiSimUnregister);
}

HRESULT __stdcall TiSimRegister(DWORD flags) {
    return TiSimRegisterImpl(flags);
}

HRESULT __stdcall TiSimLoadScenario(const wchar_t* path) {
    std::shared_ptr<tisim::Simulator> sim;
    HRESULT hr = LoadSimulator(path ? std::wstring(path) : DefaultScenarioPath(), sim);
    if (FAILED(hr)) return hr;
    std::lock_guard lock(g_simMutex);
    g_sim = std::move(sim);
    return S_OK;
}

HRESULT __stdcall TiSimAdvance(double seconds) {
    std::shared_ptr<tisim::Simulator> sim;
    HRESULT hr = SharedSimulator(sim);
    if (FAILED(hr)) return hr;
    return Serve([&] { sim->Advance(seconds); });
}

}  // extern "C"

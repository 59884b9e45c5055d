// install, uninstall, start and stop, through the service control manager.
#include "service/win/scm_commands.h"

#include <windows.h>

#include <string>

#include "service/service_host.h"
#include "service/win/service_setup.h"
#include "service/win/win_text.h"

namespace movra::service {

namespace {

const Text kInstalledLine = u"Служба Movra установлена";
const Text kDescription = u"Регулирует ширину канала пользователей сервера ТИ без входа в Windows";
const Text kNotInstalled = u"служба Movra не установлена";

// A service control manager handle, closed on leaving.
class ScHandle {
  public:
    explicit ScHandle(SC_HANDLE h = nullptr) : h_(h) {}
    ~ScHandle() {
        if (h_) CloseServiceHandle(h_);
    }
    ScHandle(const ScHandle&) = delete;
    ScHandle& operator=(const ScHandle&) = delete;
    SC_HANDLE get() const { return h_; }
    void reset(SC_HANDLE h) {
        if (h_) CloseServiceHandle(h_);
        h_ = h;
    }
    explicit operator bool() const { return h_ != nullptr; }

  private:
    SC_HANDLE h_;
};

SC_HANDLE OpenManager(DWORD access) {
    SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, access);
    if (!scm) ThrowLastError(u"не удалось открыть диспетчер служб");
    return scm;
}

// The installed service, or null when there is none.
SC_HANDLE OpenMovra(SC_HANDLE scm, DWORD access) {
    SC_HANDLE svc = OpenServiceW(scm, kServiceName, access);
    if (!svc && GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST) {
        ThrowLastError(u"не удалось открыть службу Movra");
    }
    return svc;
}

SC_HANDLE OpenInstalled(SC_HANDLE scm, DWORD access) {
    SC_HANDLE svc = OpenMovra(scm, access);
    if (!svc) ThrowError(kNotInstalled, ERROR_SERVICE_DOES_NOT_EXIST);
    return svc;
}

SERVICE_STATUS_PROCESS Query(SC_HANDLE svc) {
    SERVICE_STATUS_PROCESS s = {};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(svc, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&s), sizeof(s),
                              &needed)) {
        ThrowLastError(u"не удалось узнать состояние службы Movra");
    }
    return s;
}

Text Seconds(uint32_t ms) {
    return FromUtf8(std::to_string(ms / 1000)) + u" с";
}

void SetConfig2(SC_HANDLE svc, DWORD level, void* info, const Text& what) {
    if (!ChangeServiceConfig2W(svc, level, info)) ThrowLastError(u"не удалось задать " + what);
}

// Sends the stop (once the service can take it) and waits for STOPPED.
void StopAndWait(SC_HANDLE svc) {
    const ULONGLONG end = GetTickCount64() + kStopWaitMs;
    bool sent = false;
    for (;;) {
        const SERVICE_STATUS_PROCESS s = Query(svc);
        if (s.dwCurrentState == SERVICE_STOPPED) return;
        if (!sent && s.dwCurrentState != SERVICE_START_PENDING &&
            s.dwCurrentState != SERVICE_STOP_PENDING) {
            SERVICE_STATUS status = {};
            if (ControlService(svc, SERVICE_CONTROL_STOP, &status)) {
                sent = true;
            } else {
                const DWORD error = GetLastError();
                if (error == ERROR_SERVICE_NOT_ACTIVE) return;
                // Between its states: ask again on the next look.
                if (error != ERROR_SERVICE_CANNOT_ACCEPT_CTRL) {
                    ThrowError(u"не удалось остановить службу Movra", error);
                }
            }
        }
        if (GetTickCount64() >= end) {
            ThrowError(u"служба Movra не остановилась за " + Seconds(kStopWaitMs), ERROR_TIMEOUT);
        }
        Sleep(200);
    }
}

}  // namespace

void InstallService() {
    const std::wstring exe = ThisProgramPath();
    const std::wstring command = L"\"" + exe + L"\"";
    ScHandle scm(OpenManager(SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
    ScHandle svc(CreateServiceW(scm.get(), kServiceName, L"Movra", SERVICE_ALL_ACCESS,
                                SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    if (!svc) {
        if (GetLastError() != ERROR_SERVICE_EXISTS)
            ThrowLastError(u"не удалось создать службу Movra");
        svc.reset(OpenInstalled(scm.get(), SERVICE_ALL_ACCESS));
        // No account and password: an account an administrator chose stays.
        if (!ChangeServiceConfigW(svc.get(), SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                  SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr, nullptr,
                                  nullptr, nullptr, L"Movra")) {
            ThrowLastError(u"не удалось изменить настройки службы Movra");
        }
    }

    SERVICE_DESCRIPTIONW description = {const_cast<wchar_t*>(W(kDescription))};
    SetConfig2(svc.get(), SERVICE_CONFIG_DESCRIPTION, &description, u"описание службы Movra");

    // Windows has known this level since Vista; Wine 8 answers ERROR_INVALID_LEVEL and starts
    // the service at once instead, which is no reason to leave it half installed.
    SERVICE_DELAYED_AUTO_START_INFO delayed = {TRUE};
    if (!ChangeServiceConfig2W(svc.get(), SERVICE_CONFIG_DELAYED_AUTO_START_INFO, &delayed) &&
        GetLastError() != ERROR_INVALID_LEVEL) {
        ThrowLastError(u"не удалось задать отложенный запуск службы Movra");
    }

    SC_ACTION actions[] = {
        {SC_ACTION_RESTART, 60000}, {SC_ACTION_RESTART, 60000}, {SC_ACTION_NONE, 0}};
    SERVICE_FAILURE_ACTIONSW failure = {};
    failure.dwResetPeriod = 24 * 60 * 60;
    failure.cActions = 3;
    failure.lpsaActions = actions;
    SetConfig2(svc.get(), SERVICE_CONFIG_FAILURE_ACTIONS, &failure,
               u"действия службы Movra при сбое");

    SERVICE_PRESHUTDOWN_INFO preshutdown = {60000};
    SetConfig2(svc.get(), SERVICE_CONFIG_PRESHUTDOWN_INFO, &preshutdown,
               u"время службы Movra на остановку при выключении");

    WriteEventSource(HKEY_LOCAL_MACHINE, kEventSourceKey, exe);
    const std::wstring folder = DataFolderPath();
    if (!CreateDataFolder(folder)) ProtectDataFolder(folder);
    WriteLine(STD_OUTPUT_HANDLE, kInstalledLine);
}

void UninstallService() {
    ScHandle scm(OpenManager(SC_MANAGER_CONNECT));
    ScHandle svc(OpenMovra(scm.get(), DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS));
    if (svc) {
        StopAndWait(svc.get());
        if (!DeleteService(svc.get()) && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE) {
            ThrowLastError(u"не удалось удалить службу Movra");
        }
    }
    DeleteEventSource(HKEY_LOCAL_MACHINE, kEventSourceKey);
    WriteLine(STD_OUTPUT_HANDLE, u"Служба Movra удалена; папка данных " +
                                     FromWide(DataFolderPath().c_str()) +
                                     u" с Movra.cfg и Movra.log оставлена");
}

void StartTheService() {
    ScHandle scm(OpenManager(SC_MANAGER_CONNECT));
    ScHandle svc(OpenInstalled(scm.get(), SERVICE_START | SERVICE_QUERY_STATUS));
    if (!StartServiceW(svc.get(), 0, nullptr) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING) {
        ThrowLastError(u"не удалось запустить службу Movra");
    }
    const ULONGLONG end = GetTickCount64() + kStartWaitMs;
    for (;;) {
        const SERVICE_STATUS_PROCESS s = Query(svc.get());
        if (s.dwCurrentState == SERVICE_RUNNING) break;
        if (s.dwCurrentState == SERVICE_STOPPED) {
            ThrowError(u"служба Movra остановилась при запуске",
                       s.dwWin32ExitCode == ERROR_SERVICE_SPECIFIC_ERROR
                           ? s.dwServiceSpecificExitCode
                           : s.dwWin32ExitCode);
        }
        if (GetTickCount64() >= end) {
            ThrowError(u"служба Movra не запустилась за " + Seconds(kStartWaitMs), ERROR_TIMEOUT);
        }
        Sleep(200);
    }
    WriteLine(STD_OUTPUT_HANDLE, kServiceStartedLine);
}

void StopTheService() {
    ScHandle scm(OpenManager(SC_MANAGER_CONNECT));
    ScHandle svc(OpenInstalled(scm.get(), SERVICE_STOP | SERVICE_QUERY_STATUS));
    StopAndWait(svc.get());
    WriteLine(STD_OUTPUT_HANDLE, kServiceStoppedLine);
}

}  // namespace movra::service

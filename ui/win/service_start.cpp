#include "ui/win/service_start.h"

#include <shellapi.h>

#include "remote/win/pipe_client.h"
#include "ui/win/win_util.h"

namespace movra {

const Text kServiceStoppedQuestion =
    u"Служба Movra установлена на этом компьютере, но не запущена.\n\n"
    u"Да — запустить службу и открыть ее окно.\n"
    u"Нет — работать без службы: регулировать будет эта копия Movra.\n"
    u"Отмена — выйти.";
const Text kServiceAdminQuestion =
    u"Служба Movra запущена, но ее окно доступно только администраторам.\n\n"
    u"Запустить от имени администратора?";

namespace {

// The service needs this long at most to come up (its own start wait hint).
constexpr DWORD kStartWaitMs = 60000;
// The service creates its pipe right after it reports running.
constexpr DWORD kPipeWaitMs = 10000;

Text Number(unsigned long n) {
    return FromUtf8(std::to_string(n));
}

// The system's text for `code`, on one line.
Text Reason(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    Text out = n ? FromWide(text, n) : Text();
    if (text) LocalFree(text);
    while (!out.empty() &&
           (out.back() == u'\r' || out.back() == u'\n' || out.back() == u' ' || out.back() == u'.'))
        out.pop_back();
    for (char16_t& c : out)
        if (c == u'\r' || c == u'\n') c = u' ';
    return out.empty() ? u"код " + Number(code) : out + u" (код " + Number(code) + u")";
}

std::wstring BesideThisProgram(const wchar_t* file) {
    wchar_t path[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path, n);
    const size_t slash = dir.find_last_of(L"\\/");
    dir.resize(slash == std::wstring::npos ? 0 : slash + 1);
    return dir + file;
}

// Runs `exe` elevated (the system asks for consent) and waits for it. Its exit code; nothing
// when it did not run (declined, or no such program): `error` says why.
std::optional<DWORD> RunElevated(const std::wstring& exe, const wchar_t* params, bool wait,
                                 DWORD& error) {
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = L"runas";
    info.lpFile = exe.c_str();
    info.lpParameters = params;
    info.nShow = wait ? SW_HIDE : SW_SHOWNORMAL;
    if (!ShellExecuteExW(&info)) {
        error = GetLastError();
        return std::nullopt;
    }
    DWORD code = 0;
    if (info.hProcess) {
        if (wait) {
            WaitForSingleObject(info.hProcess, INFINITE);
            GetExitCodeProcess(info.hProcess, &code);
        }
        CloseHandle(info.hProcess);
    }
    return code;
}

int Ask3(const Text& text) {
    return MessageBoxW(nullptr, W(text), L"Movra",
                       MB_YESNOCANCEL | MB_ICONQUESTION | MB_SETFOREGROUND | MB_TOPMOST);
}

void Tell(const Text& text) {
    ShowMessageBox(nullptr, text, BoxIcon::kExclamation);
}

// Starts the service, elevated when this user may not; empty when it runs now, else the box.
std::optional<Text> StartService() {
    DWORD e = remote::StartServiceNow();
    if (e == ERROR_ACCESS_DENIED) {
        const std::optional<DWORD> code =
            RunElevated(BesideThisProgram(L"MovraService.exe"), L"start", true, e);
        if (!code) return u"Не удалось запустить службу Movra: " + Reason(e);
        e = ERROR_SUCCESS;
    }
    if (e != ERROR_SUCCESS) return u"Не удалось запустить службу Movra: " + Reason(e);
    if (remote::WaitWhileStarting(kStartWaitMs).state != remote::ServiceState::kRunning)
        return Text(
            u"Служба Movra не запустилась. Подробности — в журнале событий Windows и в "
            u"Movra.log службы.");
    return std::nullopt;
}

}  // namespace

StartChoice ChooseEdition() {
    for (;;) {
        const remote::ServiceStatus status = remote::WaitWhileStarting(kStartWaitMs);
        switch (status.state) {
            case remote::ServiceState::kNotInstalled:
                return {Edition::kDesktop};
            case remote::ServiceState::kRunning:
                break;
            default: {  // stopped, stopping, or still starting after the wait
                const int answer = Ask3(kServiceStoppedQuestion);
                if (answer == IDNO) return {Edition::kDesktop};
                if (answer != IDYES) return {Edition::kQuit};
                if (const std::optional<Text> failed = StartService()) Tell(*failed);
                continue;  // ask again, or attach to it now that it runs
            }
        }
        const remote::PipeOpen open = remote::OpenServicePipe(status.pid, kPipeWaitMs);
        switch (open.result) {
            case remote::PipeOpenResult::kOpen:
                return {Edition::kClient, open.pipe};
            case remote::PipeOpenResult::kNoRights: {
                if (!AskYesNoBox(nullptr, kServiceAdminQuestion)) return {Edition::kQuit};
                DWORD e = 0;
                if (!RunElevated(BesideThisProgram(L"Movra.exe"), nullptr, false, e))
                    Tell(u"Не удалось запустить Movra от имени администратора: " + Reason(e));
                return {Edition::kQuit};
            }
            case remote::PipeOpenResult::kNotTheService:
                Tell(u"Канал \\\\.\\pipe\\Movra открыт не службой Movra (его открыл процесс " +
                     Number(open.serverPid) + u", а служба работает в процессе " +
                     Number(status.pid) + u"). Movra не подключается к нему.");
                return {Edition::kQuit};
            default:
                // Stopped in the meantime: the state says so on the next round.
                if (remote::QueryService().state != remote::ServiceState::kRunning) continue;
                Tell(u"Служба Movra запущена, но не принимает подключения: " + Reason(open.error));
                return {Edition::kQuit};
        }
    }
}

bool StopServiceFromWindow(HWND owner) {
    DWORD e = remote::StopServiceNow();
    if (e == ERROR_ACCESS_DENIED &&
        RunElevated(BesideThisProgram(L"MovraService.exe"), L"stop", false, e))
        return true;
    if (e == ERROR_SUCCESS) return true;
    ShowMessageBox(owner, u"Не удалось остановить службу Movra: " + Reason(e),
                   BoxIcon::kExclamation);
    return false;
}

}  // namespace movra

// Registration of TiSim.dll for the TI server's CLSID. An administrator's machine may hold the
// real server under the same CLSID, so we never overwrite another server without being forced,
// keep what we replaced so unregistering can put it back, and only remove keys that are ours.

#include <windows.h>

#include <string>

#include "engine/win/ti_interface.h"
#include "tisim/win/tisim_dll.h"

extern HMODULE g_tisimModule;

namespace {

const wchar_t kClsidKey[] = L"Software\\Classes\\CLSID\\{385D6E60-1ACB-4097-B428-C766661C1E9D}";
const wchar_t kInproc[] = L"InprocServer32";
const wchar_t kOwned[] = L"TiSimOwned";            // we made the CLSID key
const wchar_t kSavedPath[] = L"TiSimSavedInproc";  // the server we replaced when forced
const wchar_t kSavedModel[] = L"TiSimSavedThreading";

class Key {
  public:
    Key() = default;
    ~Key() {
        if (h_) RegCloseKey(h_);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    HKEY* put() { return &h_; }
    HKEY get() const { return h_; }
    void reset() {
        if (h_) RegCloseKey(h_);
        h_ = nullptr;
    }

  private:
    HKEY h_ = nullptr;
};

bool ReadString(HKEY key, const wchar_t* name, std::wstring& out) {
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
    std::wstring buf(size / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf.data()), &size) !=
        ERROR_SUCCESS) {
        return false;
    }
    buf.resize(size / sizeof(wchar_t));
    while (!buf.empty() && buf.back() == L'\0') buf.pop_back();
    out = buf;
    return true;
}

LONG WriteString(HKEY key, const wchar_t* name, const std::wstring& value) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

// A server path names TiSim when its file name is TiSim.dll, whichever build it comes from.
bool IsTiSimPath(std::wstring path) {
    while (!path.empty() && (path.back() == L'"' || path.back() == L' ')) path.pop_back();
    size_t slash = path.find_last_of(L"\\/");
    std::wstring file = slash == std::wstring::npos ? path : path.substr(slash + 1);
    return lstrcmpiW(file.c_str(), L"TiSim.dll") == 0;
}

bool HasSubkey(HKEY key, const wchar_t* name) {
    Key sub;
    return RegOpenKeyExW(key, name, 0, KEY_READ, sub.put()) == ERROR_SUCCESS;
}

// What the CLSID names in one hive.
enum class Holder { Nobody, TiSim, Other };

Holder WhoHolds(HKEY root) {
    Key clsid;
    if (RegOpenKeyExW(root, kClsidKey, 0, KEY_READ, clsid.put()) != ERROR_SUCCESS) {
        return Holder::Nobody;
    }
    if (HasSubkey(clsid.get(), L"LocalServer32")) return Holder::Other;
    Key inproc;
    if (RegOpenKeyExW(clsid.get(), kInproc, 0, KEY_READ, inproc.put()) != ERROR_SUCCESS) {
        return Holder::Nobody;
    }
    std::wstring path;
    if (!ReadString(inproc.get(), nullptr, path) || path.empty()) return Holder::Nobody;
    return IsTiSimPath(path) ? Holder::TiSim : Holder::Other;
}

HRESULT FromStatus(LONG status) {
    return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(static_cast<DWORD>(status));
}

bool UnderWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

HRESULT Register(HKEY root, bool force) {
    if (!force && WhoHolds(root) == Holder::Other) return kTiSimForeignServer;
    wchar_t module[MAX_PATH * 2];
    DWORD n = GetModuleFileNameW(g_tisimModule, module, static_cast<DWORD>(std::size(module)));
    if (n == 0 || n >= std::size(module)) return E_FAIL;
    const std::wstring path(module, n);

    Key clsid;
    DWORD disposition = 0;
    LONG st = RegCreateKeyExW(root, kClsidKey, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                              clsid.put(), &disposition);
    if (st != ERROR_SUCCESS) return FromStatus(st);
    if (disposition == REG_CREATED_NEW_KEY) {
        st = WriteString(clsid.get(), nullptr, L"TiSim: simulated TI server");
        if (st == ERROR_SUCCESS) {
            DWORD one = 1;
            st = RegSetValueExW(clsid.get(), kOwned, 0, REG_DWORD,
                                reinterpret_cast<const BYTE*>(&one), sizeof one);
        }
        if (st != ERROR_SUCCESS) return FromStatus(st);
    }

    Key inproc;
    st = RegCreateKeyExW(clsid.get(), kInproc, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                         inproc.put(), nullptr);
    if (st != ERROR_SUCCESS) return FromStatus(st);
    std::wstring previous, model;
    if (ReadString(inproc.get(), nullptr, previous) && !previous.empty() &&
        !IsTiSimPath(previous)) {
        // Keep the replaced server so that unregistering restores it; a second forced
        // registration must not overwrite the saved one with our own path.
        std::wstring saved;
        if (!ReadString(clsid.get(), kSavedPath, saved)) {
            ReadString(inproc.get(), L"ThreadingModel", model);
            st = WriteString(clsid.get(), kSavedPath, previous);
            if (st == ERROR_SUCCESS) st = WriteString(clsid.get(), kSavedModel, model);
            if (st != ERROR_SUCCESS) return FromStatus(st);
        }
    }
    st = WriteString(inproc.get(), nullptr, path);
    if (st == ERROR_SUCCESS) st = WriteString(inproc.get(), L"ThreadingModel", L"Free");
    return FromStatus(st);
}

HRESULT Unregister(HKEY root) {
    Key clsid;
    LONG st = RegOpenKeyExW(root, kClsidKey, 0, KEY_READ | KEY_WRITE, clsid.put());
    if (st == ERROR_FILE_NOT_FOUND) return S_OK;
    if (st != ERROR_SUCCESS) {
        // Without rights to write we may still only be looking; fail only if it is ours.
        return WhoHolds(root) == Holder::TiSim ? FromStatus(st) : S_OK;
    }
    {
        Key inproc;
        if (RegOpenKeyExW(clsid.get(), kInproc, 0, KEY_READ | KEY_WRITE, inproc.put()) !=
            ERROR_SUCCESS) {
            return S_OK;
        }
        std::wstring path;
        if (!ReadString(inproc.get(), nullptr, path) || !IsTiSimPath(path)) return S_OK;
        std::wstring saved, model;
        if (ReadString(clsid.get(), kSavedPath, saved)) {
            ReadString(clsid.get(), kSavedModel, model);
            st = WriteString(inproc.get(), nullptr, saved);
            if (st == ERROR_SUCCESS) {
                st = model.empty() ? RegDeleteValueW(inproc.get(), L"ThreadingModel")
                                   : WriteString(inproc.get(), L"ThreadingModel", model);
                if (st == ERROR_FILE_NOT_FOUND) st = ERROR_SUCCESS;
            }
            if (st != ERROR_SUCCESS) return FromStatus(st);
            RegDeleteValueW(clsid.get(), kSavedPath);
            RegDeleteValueW(clsid.get(), kSavedModel);
            return S_OK;
        }
    }
    st = RegDeleteKeyW(clsid.get(), kInproc);
    if (st != ERROR_SUCCESS) return FromStatus(st);
    DWORD owned = 0, size = sizeof owned, subkeys = 0, values = 0;
    const bool ours = RegQueryValueExW(clsid.get(), kOwned, nullptr, nullptr,
                                       reinterpret_cast<BYTE*>(&owned), &size) == ERROR_SUCCESS;
    RegQueryInfoKeyW(clsid.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                     nullptr, nullptr, nullptr, nullptr);
    if (ours && subkeys == 0) {
        clsid.reset();
        st = RegDeleteKeyW(root, kClsidKey);
        return st == ERROR_FILE_NOT_FOUND ? S_OK : FromStatus(st);
    }
    return S_OK;
}

}  // namespace

HRESULT TiSimRegisterImpl(DWORD flags) {
    const bool machine = (flags & kTiSimMachine) || (!(flags & kTiSimUser) && UnderWine());
    if (flags & kTiSimUnregister) {
        const bool both = !(flags & (kTiSimMachine | kTiSimUser));
        HRESULT hr = S_OK;
        if (both || (flags & kTiSimUser)) hr = Unregister(HKEY_CURRENT_USER);
        if (both || (flags & kTiSimMachine)) {
            HRESULT hm = Unregister(HKEY_LOCAL_MACHINE);
            if (SUCCEEDED(hr)) hr = hm;
        }
        return hr;
    }
    const bool force = flags & kTiSimForce;
    // A per-user entry would hide a machine-wide server for this user, so that counts too.
    if (!force && !machine && WhoHolds(HKEY_LOCAL_MACHINE) == Holder::Other) {
        return kTiSimForeignServer;
    }
    return Register(machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, force);
}

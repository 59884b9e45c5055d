// MovraService's set-up pieces in-process, in temporary places: the data folder and its
// protected ACL, the event source's registration, the message table inside the exe, and the
// one-line error text.
#include <windows.h>

#include <aclapi.h>
#include <gtest/gtest.h>
#include <sddl.h>

#include <filesystem>
#include <string>

#include "service/win/event_log_sink.h"
#include "service/win/service_setup.h"
#include "service/win/win_text.h"

namespace movra::service {
namespace {

const std::wstring kExpectedSddl = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

// The owner and DACL of a file or folder as SDDL; empty when they cannot be read.
std::wstring SecurityOf(const std::wstring& path) {
    PSECURITY_DESCRIPTOR sd = nullptr;
    const SECURITY_INFORMATION what = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, what, nullptr, nullptr, nullptr,
                              nullptr, &sd) != ERROR_SUCCESS) {
        return L"";
    }
    wchar_t* text = nullptr;
    std::wstring sddl;
    if (ConvertSecurityDescriptorToStringSecurityDescriptorW(sd, SDDL_REVISION_1, what, &text,
                                                             nullptr)) {
        sddl = text;
        LocalFree(text);
    }
    LocalFree(sd);
    return sddl;
}

void SetSecurity(const std::wstring& path, const wchar_t* sddl) {
    PSECURITY_DESCRIPTOR sd = nullptr;
    ASSERT_TRUE(
        ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &sd, nullptr));
    ASSERT_TRUE(SetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, sd));
    LocalFree(sd);
}

// Whether this system keeps a file's descriptor as set. Windows does; Wine 8 does not (it makes
// one up from the Unix mode), and there only the folder's creation and the calls' success can
// be checked.
bool KeepsDescriptors(const std::wstring& dir) {
    const std::wstring probe = dir + L"\\probe";
    CreateDirectoryW(probe.c_str(), nullptr);
    SetSecurity(probe, L"D:P(A;;FA;;;BA)");
    const bool kept = SecurityOf(probe).find(L"D:P(A;;FA;;;BA)") != std::wstring::npos;
    RemoveDirectoryW(probe.c_str());
    return kept;
}

class TempFolder {
  public:
    TempFolder() {
        wchar_t base[MAX_PATH];
        GetTempPathW(MAX_PATH, base);
        path_ =
            std::wstring(base) + L"movra_service_setup_" + std::to_wstring(GetCurrentProcessId());
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::wstring& Path() const { return path_; }

  private:
    std::wstring path_;
};

TEST(DataFolder, CreatedAndExistingFoldersGetTheProtectedAcl) {
    TempFolder temp;
    const std::wstring fresh = temp.Path() + L"\\Movra";
    EXPECT_TRUE(CreateDataFolder(fresh));
    EXPECT_TRUE(std::filesystem::is_directory(fresh));
    // Created once: the second call leaves it alone and says so.
    EXPECT_FALSE(CreateDataFolder(fresh));

    // An older folder that let everyone and Users read, with the password file in it.
    const std::wstring older = temp.Path() + L"\\Older";
    ASSERT_TRUE(CreateDirectoryW(older.c_str(), nullptr));
    SetSecurity(older, L"D:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FR;;;BU)(A;OICI;FR;;;WD)");
    const std::wstring cfg = older + L"\\Movra.cfg";
    CloseHandle(CreateFileW(cfg.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    ProtectDataFolder(older);

    if (!KeepsDescriptors(temp.Path())) {
        GTEST_SKIP() << "this system does not keep file security descriptors; read back: "
                     << ToUtf8(FromWide(SecurityOf(fresh).c_str()));
    }
    EXPECT_EQ(SecurityOf(fresh), kExpectedSddl);
    EXPECT_EQ(SecurityOf(older), kExpectedSddl);
    // The file inside now inherits only what the folder passes on.
    const std::wstring file = SecurityOf(cfg);
    EXPECT_EQ(file.find(L"BU"), std::wstring::npos) << ToUtf8(FromWide(file.c_str()));
    EXPECT_EQ(file.find(L"WD"), std::wstring::npos) << ToUtf8(FromWide(file.c_str()));
}

// The descriptor the folder is given, taken apart: whatever the file system keeps of it, this is
// what Windows enforces.
TEST(DataFolder, TheDescriptorGrantsSystemAndAdministratorsOnlyAndInheritsNothing) {
    PSECURITY_DESCRIPTOR sd = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
        kDataFolderSddl, SDDL_REVISION_1, &sd, nullptr));
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(sd, &control, &revision));
    EXPECT_TRUE(control & SE_DACL_PROTECTED);
    PSID owner = nullptr;
    BOOL ownerDefaulted = FALSE;
    ASSERT_TRUE(GetSecurityDescriptorOwner(sd, &owner, &ownerDefaulted));
    EXPECT_TRUE(owner && IsWellKnownSid(owner, WinBuiltinAdministratorsSid));
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted));
    ASSERT_TRUE(present && dacl);
    ACL_SIZE_INFORMATION size = {};
    ASSERT_TRUE(GetAclInformation(dacl, &size, sizeof(size), AclSizeInformation));
    ASSERT_EQ(size.AceCount, 2u);
    bool system = false, admins = false;
    for (DWORD i = 0; i < size.AceCount; ++i) {
        void* raw = nullptr;
        ASSERT_TRUE(GetAce(dacl, i, &raw));
        const auto* ace = static_cast<const ACCESS_ALLOWED_ACE*>(raw);
        EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
        EXPECT_EQ(ace->Header.AceFlags, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
        EXPECT_EQ(ace->Mask, static_cast<DWORD>(FILE_ALL_ACCESS));
        PSID sid = const_cast<DWORD*>(&ace->SidStart);
        system = system || IsWellKnownSid(sid, WinLocalSystemSid);
        admins = admins || IsWellKnownSid(sid, WinBuiltinAdministratorsSid);
    }
    EXPECT_TRUE(system && admins);
    LocalFree(sd);
}

TEST(DataFolder, FailuresNameThePathAndTheSystemsCode) {
    TempFolder temp;
    const std::wstring missing = temp.Path() + L"\\no\\Movra";
    try {
        CreateDataFolder(missing);
        FAIL() << "a folder under a missing one was created";
    } catch (const CommandError& e) {
        EXPECT_NE(e.what.find(FromWide(missing.c_str())), Text::npos);
        EXPECT_EQ(e.code, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    }
    EXPECT_THROW(ProtectDataFolder(missing), CommandError);
}

TEST(EventSource, RegisteredWithTheExeAndAllTypesThenRemoved) {
    const wchar_t* key = L"Software\\MovraServiceSetupTest\\Movra";
    const auto read = [&](const wchar_t* name, DWORD& type, std::wstring& text, DWORD& number) {
        BYTE data[1024] = {};
        DWORD size = sizeof(data) - sizeof(wchar_t);
        const LSTATUS r = RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_ANY | RRF_NOEXPAND,
                                       &type, data, &size);
        text = reinterpret_cast<const wchar_t*>(data);
        number = *reinterpret_cast<const DWORD*>(data);
        return r;
    };
    DWORD type = 0, number = 0;
    std::wstring text;

    WriteEventSource(HKEY_CURRENT_USER, key, L"C:\\old\\MovraService.exe");
    // Installed again from another folder: the message file follows the exe.
    WriteEventSource(HKEY_CURRENT_USER, key, L"C:\\Program Files\\Movra\\MovraService.exe");
    ASSERT_EQ(read(L"EventMessageFile", type, text, number), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_EQ(text, L"C:\\Program Files\\Movra\\MovraService.exe");
    ASSERT_EQ(read(L"TypesSupported", type, text, number), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(number, 7u);

    DeleteEventSource(HKEY_CURRENT_USER, key);
    EXPECT_EQ(read(L"TypesSupported", type, text, number), ERROR_FILE_NOT_FOUND);
    // Uninstalling twice is no error.
    EXPECT_NO_THROW(DeleteEventSource(HKEY_CURRENT_USER, key));
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\MovraServiceSetupTest");
}

TEST(MessageTable, EachEventTypeGivesTheLineBackFromTheExe) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring exe =
        std::filesystem::path(self).parent_path().parent_path().parent_path().wstring() +
        L"\\service\\win\\MovraService.exe";
    HMODULE module = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr) << "MovraService.exe not found beside the build";
    const Text line = u"Ошибка подключения к ti-server: сервер недоступен";
    for (EventType type : {EventType::kInformation, EventType::kWarning, EventType::kError}) {
        DWORD_PTR args[] = {reinterpret_cast<DWORD_PTR>(W(line))};
        wchar_t out[512] = {};
        const DWORD n =
            FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, module,
                           EventMessageId(type), 0, out, 512, reinterpret_cast<va_list*>(args));
        EXPECT_EQ(FromWide(out), line) << "type " << static_cast<int>(type) << ", n " << n;
    }
    FreeLibrary(module);
}

TEST(ErrorLine, OneLineWithWhatFailedAndTheSystemsReason) {
    const Text line = ErrorLine({u"служба Movra не установлена", ERROR_SERVICE_DOES_NOT_EXIST});
    EXPECT_EQ(line.rfind(u"MovraService: служба Movra не установлена: ", 0), 0u) << ToUtf8(line);
    EXPECT_NE(line.find(u"1060"), Text::npos) << ToUtf8(line);
    EXPECT_EQ(line.find_first_of(u"\r\n"), Text::npos) << ToUtf8(line);
}

}  // namespace
}  // namespace movra::service

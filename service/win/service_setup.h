#pragma once
// What `install` prepares besides the service itself, and the service needs at start: the data
// folder with its protected ACL and the event source's registration. Each takes its place (a
// folder, a registry root and key) so that tests can use a temporary one.
#include <windows.h>

#include <string>

namespace movra::service {

inline constexpr wchar_t kServiceName[] = L"Movra";
// The event source under HKEY_LOCAL_MACHINE.
inline constexpr wchar_t kEventSourceKey[] =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Movra";
// SYSTEM and Administrators only, full control, inherited by files and subfolders, nothing
// inherited from above: Movra.cfg in it holds the API password.
inline constexpr wchar_t kDataFolderSddl[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

// %ProgramData%\Movra. Throws CommandError.
std::wstring DataFolderPath();
// Creates the folder with the protected ACL; false when it existed already (then left as it
// is). Throws CommandError.
bool CreateDataFolder(const std::wstring& path);
// Gives an existing folder the protected ACL and owner, replacing what it had (an older folder
// may let Users read), and passes the inheritable entries on to what it holds. Throws.
void ProtectDataFolder(const std::wstring& path);
// Creates the data folder when it is missing and makes it the current directory, where the
// application finds Movra.cfg and writes Movra.log. Throws CommandError.
void EnterDataFolder();

// Registers the event source: the message file is `exe`, all three event types. Throws.
void WriteEventSource(HKEY root, const wchar_t* key, const std::wstring& exe);
// Removes it; a source that is not there is no error. Throws.
void DeleteEventSource(HKEY root, const wchar_t* key);

// The path of the running program.
std::wstring ThisProgramPath();

}  // namespace movra::service

#include "engine/win/regulator_mutex.h"

namespace movra {

RegulatorMutex::~RegulatorMutex() {
    Release();
}

bool RegulatorMutex::TryHold() {
    HANDLE h = CreateMutexW(nullptr, FALSE, name_);
    if (!h) {
        // The object exists but its owner's security keeps us out (the service made it, this
        // program is not elevated): someone holds it. Creating a global object may also be
        // refused to a user without the right to; with no such object nobody regulates, and
        // a desktop copy must not be locked out for that.
        if (GetLastError() == ERROR_ACCESS_DENIED) {
            HANDLE other = OpenMutexW(SYNCHRONIZE, FALSE, name_);
            if (other) {
                CloseHandle(other);
                return false;
            }
            return GetLastError() == ERROR_FILE_NOT_FOUND;
        }
        // Any other failure: regulate as before rather than never.
        return true;
    }
    const DWORD r = WaitForSingleObject(h, 0);
    // An abandoned mutex: its holder ended without letting go, the place is free.
    if (r == WAIT_OBJECT_0 || r == WAIT_ABANDONED) {
        handle_ = h;
        return true;
    }
    CloseHandle(h);
    return false;
}

void RegulatorMutex::Release() {
    if (!handle_) return;
    ReleaseMutex(handle_);
    CloseHandle(handle_);
    handle_ = nullptr;
}

}  // namespace movra

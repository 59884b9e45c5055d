#pragma once
// The machine's one-regulator place as a named mutex in the global namespace, so that it is
// shared by the service (session 0) and every logged-on session.
#include <windows.h>

#include "engine/regulator_lock.h"

namespace movra {

inline constexpr wchar_t kRegulatorMutexName[] = L"Global\\MovraRegulator";

class RegulatorMutex final : public RegulatorLock {
  public:
    explicit RegulatorMutex(const wchar_t* name = kRegulatorMutexName) : name_(name) {}
    ~RegulatorMutex() override;
    bool TryHold() override;
    void Release() override;

  private:
    const wchar_t* name_;
    // Open only while held or being tried: an object that exists therefore means a holder.
    HANDLE handle_ = nullptr;
};

}  // namespace movra
